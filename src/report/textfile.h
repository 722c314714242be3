// Writing a finished text to a file without ever leaving half of it behind.
#pragma once

#include <QByteArray>
#include <QString>

namespace corvane {

// The text in the locale's encoding. Reports are almost always plain ASCII, for which every
// locale's encoding is the same bytes, and narrowing is many times quicker than encoding.
QByteArray localBytes(const QString& text);

// A regular (or new) file is replaced whole, as the settings store replaces its files; a
// device or pipe such as /dev/null is written in place, since renaming over it would replace
// the device.
// False with the reason in error when the file could not be written.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString& error);

} // namespace corvane
