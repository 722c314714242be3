#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Splits one line at a one-character separator, in place in its own copy of the line. Fields
// are counted from 1. A separator at the very end stays part of the last field. A doubled
// separator ends a field too but resets the count to 0 (callers that want an exact count
// reject such lines that way), while field() still counts the empty fields it leaves.
class Csv {
public:
    // The line ends at its first zero character, if it has one.
    Csv(std::string_view line, char separator);

    int count() const { return count_; }
    char separator() const { return separator_; }
    std::size_t length() const { return line_.size(); }

    // The n-th field, zero-terminated inside this object; "" when there is no such field.
    // Valid until the object is destroyed, assigned or moved from.
    const char* field(int n) const;

private:
    std::string line_; // field ends overwritten by zeros
    char separator_;
    int count_ = 0;
};

} // namespace corvane
