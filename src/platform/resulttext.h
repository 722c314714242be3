// The user-facing text of a platform result code.
#pragma once

#include <QString>
#include <cstdint>

namespace corvane {

// Every code the stand-in libraries return has a text; a code outside that set still gets
// one naming the number, so no failure goes unreported.
QString resultText(uint32_t code);

} // namespace corvane
