// Prints where Qt would look for its plugins, as a program run from its folder sees it.
#include <QCoreApplication>
#include <QLibraryInfo>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::printf("%s\n", qPrintable(QLibraryInfo::path(QLibraryInfo::PluginsPath)));
    std::printf("%s\n", qPrintable(QLibraryInfo::path(QLibraryInfo::PrefixPath)));
    return 0;
}
