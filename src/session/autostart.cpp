#include "session/autostart.h"

#include "registry/location.h"
#include "session/settingslogic.h"

namespace corvane {
namespace {

// Desktop entries quote an argument holding a reserved character, escape ", `, $ and \ inside
// the quotes, then escape \ again as a string value; % stands for field codes and is doubled.
std::string execArgument(const std::string& arg) {
    static constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    const bool needsQuotes = arg.empty() || arg.find_first_of(reserved) != std::string::npos;
    if (needsQuotes)
        quoted += '"';
    for (const char c : arg) {
        if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\'))
            quoted += '\\';
        quoted += c;
    }
    if (needsQuotes)
        quoted += '"';
    std::string out;
    for (const char c : quoted) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '%':
            out += "%%";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::string startupCommand(const std::string& executable, bool enabled) {
    std::string command = executable + " -a";
    return enabled ? command : "REM " + command;
}

std::filesystem::path autostartFile() {
    return reg::userConfigHome() / "autostart" / "corvane.desktop";
}

std::string desktopEntry(const std::string& executable, bool enabled) {
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Corvane\n"
                       "Comment=Shows and changes the IPv4 configuration of this computer\n"
                       "Exec=" +
                       execArgument(executable) +
                       " -a\n"
                       "Terminal=false\n";
    if (!enabled)
        text += "Hidden=true\n";
    return text;
}

void writeStartupEntry(reg::Store& store, const std::string& executable, bool enabled) {
    auto key = store.open(kStartupListKey, true);
    if (!key)
        return;
    key->writeString(kStartupValueName, startupCommand(executable, enabled));
    const std::filesystem::path file = autostartFile();
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec)
        throw reg::StoreError("Cannot create " + file.parent_path().string() + ": " + ec.message());
    reg::writeFileAtomically(file, desktopEntry(executable, enabled));
}

} // namespace corvane
