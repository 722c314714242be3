#include "platform/installpaths.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

// Set by the build from the install folders; these are the defaults of a /usr/local install.
#ifndef CORVANE_LIBDIR_FROM_BINDIR
#define CORVANE_LIBDIR_FROM_BINDIR "../lib/corvane"
#endif
#ifndef CORVANE_DATADIR_FROM_BINDIR
#define CORVANE_DATADIR_FROM_BINDIR "../share/corvane"
#endif

namespace corvane {

std::string executableDir() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string p(path, static_cast<size_t>(n));
    const auto slash = p.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : p.substr(0, slash);
}

bool trustedFolder(const std::string& folder) {
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

namespace {

std::string joined(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.ends_with('/'))
        path += '/';
    return path + std::string(name);
}

bool regularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::string ownFile(const std::string& exeDir, std::string_view installedFolder,
                    std::string_view name) {
    std::string beside = joined(exeDir, name);
    if (trustedFolder(exeDir) && regularFile(beside))
        return beside;
    if (installedFolder.starts_with('/'))
        return joined(installedFolder, name);
    return joined(joined(exeDir, installedFolder), name);
}

// Without /proc the program cannot tell where it lies; the working folder is no substitute.
std::string privateLibrary(std::string_view name) {
    const std::string dir = executableDir();
    if (dir.empty())
        return {};
    std::string path = ownFile(dir, CORVANE_LIBDIR_FROM_BINDIR, name);
    return trustedFolder(path.substr(0, path.rfind('/'))) ? path : std::string();
}

std::string dataFile(std::string_view name) {
    const std::string dir = executableDir();
    return dir.empty() ? std::string() : ownFile(dir, CORVANE_DATADIR_FROM_BINDIR, name);
}

} // namespace corvane
