#include "shell/appidentity.h"

#include <QCoreApplication>

namespace corvane {

void setApplicationIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
}

} // namespace corvane
