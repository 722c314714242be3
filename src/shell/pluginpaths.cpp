#include "shell/pluginpaths.h"
#include "platform/installpaths.h"
#include "platform/systemtext.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace corvane {

std::string windowRefusal(const std::string& exeDir, uid_t euid) {
    if (euid != 0)
        return {};
    if (exeDir.empty())
        return "the folder of the program is unknown";
    std::string why;
    return trustedFolder(exeDir, &why) ? std::string() : why;
}

std::string trustedPluginFolder(const std::string& path, std::string& why) {
    if (!path.starts_with('/')) {
        why = "it is not an absolute path";
        return {};
    }
    char real[PATH_MAX];
    if (!::realpath(path.c_str(), real)) {
        why = std::strerror(errno);
        return {};
    }
    const std::string folder = real;
    if (!trustedFolder(folder, &why))
        return {};
    // Qt looks one level down (platforms/, imageformats/, ...); deeper it does not search.
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        why = "cannot read the folder " + folder + ": " + std::strerror(errno);
        return {};
    }
    bool trusted = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string sub = folder;
        sub.append("/").append(name);
        struct stat st {};
        if (::stat(sub.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        if (!trustedFolder(sub, &why)) {
            trusted = false;
            break;
        }
    }
    ::closedir(dir);
    return trusted ? folder : std::string();
}

std::string trustedPluginList(std::string_view list, std::vector<std::string>& dropped) {
    std::string kept;
    while (!list.empty()) {
        const auto colon = list.find(':');
        const std::string entry(list.substr(0, colon));
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
        if (entry.empty())
            continue;
        std::string why;
        const std::string folder = trustedPluginFolder(entry, why);
        if (folder.empty()) {
            dropped.push_back(entry);
            dropped.back().append(": ").append(why);
            continue;
        }
        if (!kept.empty())
            kept += ':';
        kept += folder;
    }
    return kept;
}

std::vector<std::string> dropUntrustedPluginPaths() {
    std::vector<std::string> lines;
    for (const char* variable : {"QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH"}) {
        const char* value = std::getenv(variable);
        if (!value)
            continue;
        std::vector<std::string> dropped;
        const std::string kept = trustedPluginList(value, dropped);
        for (const std::string& line : dropped)
            lines.push_back(std::string(variable) + ": left out " +
                            systemText(line).toLocal8Bit().toStdString());
        if (kept.empty())
            ::unsetenv(variable);
        else if (kept != value)
            ::setenv(variable, kept.c_str(), 1);
    }
    return lines;
}

} // namespace corvane
