// Writing a finished text to a file without ever leaving half of it behind.
#pragma once

#include <QByteArray>
#include <QString>

namespace corvane {

// The text in the locale's encoding. Reports are almost always plain ASCII, for which every
// locale's encoding is the same bytes, and narrowing is many times quicker than encoding.
QByteArray localBytes(const QString& text);

// The file is replaced whole by one written beside it, as the settings store replaces its
// files; a symbolic link in its place is replaced, never what it leads to. A file replaced
// keeps its permissions when it is the writer's own; a new one, or one another user owns,
// gets 0644 under the umask. Written in place instead: a pipe (an error at once when nobody
// reads it), a terminal or /dev/null, /dev/zero, /dev/full, and the standard output or error
// through a link such as /dev/stdout. Other devices and sockets are refused, and nothing is
// created in /dev.
// False with the reason (not naming the file) in error when the file could not be written.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString& error);

} // namespace corvane
