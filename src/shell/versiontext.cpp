#include "shell/versiontext.h"

#include "values/csv.h"

namespace corvane {

QString BuildVersionText(std::string_view fileVersion, std::string_view buildDate, bool xpFamily,
                         bool vista) {
    if (fileVersion.empty())
        return {};
    const Csv fields(fileVersion, '.');
    QString text =
        QStringLiteral("Version %1.%2.%3  Build %4 (%5)")
            .arg(QString::fromUtf8(fields.field(1)), QString::fromUtf8(fields.field(2)),
                 QString::fromUtf8(fields.field(3)), QString::fromUtf8(fields.field(4)),
                 QString::fromUtf8(buildDate.data(), static_cast<qsizetype>(buildDate.size())));
    if (!xpFamily)
        text +=
            vista ? QStringLiteral(", running on Vista") : QStringLiteral(", not running on XP");
    return text;
}

} // namespace corvane
