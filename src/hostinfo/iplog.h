// The IP address log: each pass's adapter lines appended to a text file when the active
// addresses changed, and after every start behind a banner. Failures are silent: the log is
// a convenience, and a box after every refresh would make the program unusable.
#pragma once

#include <QStringList>
#include <filesystem>

namespace corvane {

inline constexpr const char* kIpLogFileName = "iplog.txt";

class IpAddressLog {
public:
    // addressesChanged: the pass's ", "-joined address list differs from the one before.
    // Returns whether anything was written.
    bool passFinished(const QStringList& lines, bool addressesChanged,
                      const std::filesystem::path& file);
    // The banner still waits for the first write that succeeds.
    bool startupPending() const { return startup_; }

private:
    bool startup_ = true;
};

// Appends text to file, created when missing (mode 0644). A link in its place, or anything
// else that is not a regular file, is refused; so is a write that fails part way.
bool appendToFile(const std::filesystem::path& file, const QByteArray& text);

} // namespace corvane
