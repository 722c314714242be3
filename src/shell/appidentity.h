#pragma once

namespace corvane {

// Names the application "Corvane" for the desktop. Only the name: with a display name set,
// Qt appends " — Corvane" to every caption, and captions are exactly the window's own.
void setApplicationIdentity();

} // namespace corvane
