// How many requests may wait on polkit at once: a user who holds their checks open (an
// authentication dialog left standing, a flood) takes only their share, and what waits is
// bounded, so the helper's memory is too. A request past a limit is answered ERROR_BUSY at
// once, without asking polkit.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <sys/types.h>

namespace corvane::helper {

struct AdmissionLimits {
    std::size_t perSender = 4; // one bus connection
    std::size_t perUid = 8;
    std::size_t total = 32;
};

class Admission {
public:
    explicit Admission(AdmissionLimits limits = {}) : limits_(limits) {}
    // Counts the request in when every limit leaves room for it; false otherwise.
    bool admit(const std::string& sender, uid_t uid);
    // Whether admit would, counting nothing: to turn a large request away before it is read.
    bool wouldAdmit(const std::string& sender, uid_t uid) const;
    // For each admitted request once, when its answer has gone.
    void release(const std::string& sender, uid_t uid);
    std::size_t pending() const { return total_; }

private:
    AdmissionLimits limits_;
    std::map<std::string, std::size_t> bySender_;
    std::map<uid_t, std::size_t> byUid_;
    std::size_t total_ = 0;
};

} // namespace corvane::helper
