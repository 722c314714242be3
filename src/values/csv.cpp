#include "values/csv.h"

#include <new>

namespace corvane {

Csv::Csv(std::string_view line, char separator) : separator_(separator) {
    line = line.substr(0, line.find('\0'));
    try {
        line_.assign(line);
    } catch (const std::bad_alloc&) {
        return; // no copy: count 0, no fields
    }
    count_ = 1;
    const std::size_t length = line_.size();
    for (std::size_t i = 0; i + 1 < length; ++i) {
        if (line_[i] == separator_) {
            count_ = line_[i + 1] == separator_ ? 0 : count_ + 1;
            line_[i] = '\0';
        }
    }
}

const char* Csv::field(int n) const {
    if (n < 1 || n > count_ || line_.empty()) {
        return "";
    }
    if (n == 1) {
        return line_.c_str();
    }
    int seen = 0;
    for (std::size_t i = 0; i < line_.size(); ++i) {
        if (line_[i] == '\0' && ++seen == n - 1) {
            return line_.c_str() + i + 1;
        }
    }
    // Not reached: the count never exceeds the terminators written. The bounded walk makes
    // sure a bad count could still not read past the copy.
    return "";
}

} // namespace corvane
