#include "platform/installpaths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

namespace {

bool ownedByUs(const struct stat& st) {
    return st.st_uid == 0 || st.st_uid == ::getuid() || st.st_uid == ::geteuid();
}

bool writableByOthers(const struct stat& st) {
    return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Every folder from / down to dir (a resolved path) is ours, and none that others may write
// to, but for one with the sticky bit above dir: there nobody renames what is not theirs.
bool trustedChain(const std::string& dir, std::string& why) {
    std::string prefix;
    std::size_t at = 0;
    do {
        at = dir.find('/', at + 1);
        prefix = at == std::string::npos ? dir : dir.substr(0, at);
        if (prefix.empty())
            prefix = "/";
        struct stat st {};
        if (::stat(prefix.c_str(), &st) != 0) {
            why = "cannot examine the folder " + prefix;
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            why = prefix + " is not a folder";
            return false;
        }
        const bool last = prefix == dir;
        if (!ownedByUs(st)) {
            why = "the folder " + prefix + " belongs to another user";
            return false;
        }
        if (writableByOthers(st) && (last || (st.st_mode & S_ISVTX) == 0)) {
            why = "the folder " + prefix + " can be written by others than its owner";
            return false;
        }
    } while (at != std::string::npos);
    return true;
}

} // namespace

bool trustedFolder(const std::string& folder, std::string* why) {
    std::string reason;
    std::string& out = why ? *why : reason;
    char real[PATH_MAX];
    if (!::realpath(folder.c_str(), real)) {
        out = "cannot examine the folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    return trustedChain(real, out);
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

namespace {

std::string folderOf(const std::string& resolved) {
    const auto slash = resolved.rfind('/');
    return slash == 0 ? std::string("/") : resolved.substr(0, slash);
}

// The nearest folder above a missing path that exists, resolved, and the rest of the path.
bool existingAncestor(const std::string& path, std::string& resolved, std::string& rest) {
    std::string head = path;
    while (head.size() > 1) {
        const auto slash = head.rfind('/');
        rest = path.substr(slash == 0 ? 1 : slash + 1);
        head = slash == 0 ? "/" : head.substr(0, slash);
        char real[PATH_MAX];
        if (::realpath(head.c_str(), real)) {
            resolved = real;
            return true;
        }
        if (errno != ENOENT && errno != ENOTDIR)
            return false;
    }
    return false;
}

} // namespace

std::string trustedCodeFile(const std::string& path, std::string& why) {
    if (!path.starts_with('/')) {
        why = "it is not an absolute path";
        return {};
    }
    char real[PATH_MAX];
    if (!::realpath(path.c_str(), real)) {
        if (errno != ENOENT) {
            why = std::strerror(errno);
            return {};
        }
        std::string folder;
        std::string rest;
        if (!existingAncestor(path, folder, rest)) {
            why = "cannot examine its folders";
            return {};
        }
        if (!trustedChain(folder, why))
            return {};
        return folder == "/" ? "/" + rest : folder + "/" + rest;
    }
    const std::string file = real;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "it is not a regular file";
        return {};
    }
    if (!ownedByUs(st)) {
        why = "it belongs to another user";
        return {};
    }
    if (writableByOthers(st)) {
        why = "it can be written by others than its owner";
        return {};
    }
    return trustedChain(folderOf(file), why) ? file : std::string();
}

std::string dataFile(std::string_view name) {
    const std::string dir = executableDir();
    return dir.empty() ? std::string() : ownFile(dir, CORVANE_DATADIR_FROM_BINDIR, name);
}

} // namespace corvane
