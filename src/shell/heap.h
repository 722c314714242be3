// How the program's heap is set up for tables of a hundred thousand rows.
#pragma once

namespace corvane {

// Call first thing in main, before anything big is allocated.
void prepareHeapForLargeTables();

} // namespace corvane
