// Writing a text to a file without ever leaving half of it behind.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <functional>
#include <string_view>

namespace corvane {

// The text in the locale's encoding. Reports are almost always plain ASCII, for which every
// locale's encoding is the same bytes, and narrowing is many times quicker than encoding.
QByteArray localBytes(QStringView text);

// The file is replaced whole by one written beside it, as the settings store replaces its
// files; a symbolic link in its place is replaced, never what it leads to. A file replaced
// keeps its permissions when it is the writer's own; a new one, or one another user owns,
// gets 0644 under the umask. Written in place instead: a pipe (an error at once when nobody
// reads it), a terminal or /dev/null, /dev/zero, /dev/full, and the standard output or error
// through a link such as /dev/stdout. Other devices and sockets are refused, and nothing is
// created in /dev.
// False with the reason (not naming the file) in error when the file could not be written.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString& error);

// Appends one piece of the text; false once a write has failed, after which pieces are dropped.
using BytesOut = std::function<bool(std::string_view piece)>;
// As writeWholeFile, with the bytes made while they are written, so that a big text is never
// held whole: produce hands its pieces to the writer it is given. True only when every piece
// was written; a file that is replaced keeps its old content unless all of it was.
bool writeFileInPieces(const QString& path, const std::function<void(const BytesOut&)>& produce,
                       QString& error);

} // namespace corvane
