#include "values/iphost.h"

namespace corvane {

namespace {

// The token before the first separator and the one between the first and the second; any
// further tokens are ignored.
struct token_pair {
    std::string_view first;
    std::string_view second;
};

token_pair split_once(std::string_view text, std::string_view::size_type at, char separator) {
    const std::string_view rest = text.substr(at + 1);
    return {text.substr(0, at), rest.substr(0, rest.find(separator))};
}

// Reads a prefix length: decimal digits, optionally followed by a fraction that is dropped.
// Anything else ("8x", "", "+8", "8.") is rejected. Saturates, so long digit runs cannot wrap.
bool read_prefix(std::string_view text, unsigned& prefix) {
    constexpr unsigned too_big = 33;
    unsigned whole = 0;
    std::string_view::size_type i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        whole = whole >= too_big ? too_big : whole * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (i == 0) {
        return false;
    }
    if (i < text.size()) {
        if (text[i] != '.' || i + 1 == text.size()) {
            return false;
        }
        for (++i; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return false;
            }
        }
    }
    prefix = whole;
    return true;
}

} // namespace

iphost::iphost() {
    derive();
}

iphost::iphost(std::string_view address, std::string_view mask) : ip(address), mask_(mask) {
    set_valid(valid() && mask_.valid());
    derive();
}

void iphost::parse(std::string_view text) {
    text = text.substr(0, max_parse_length);
    // Start afresh, so that nothing of an earlier value survives a failed parse.
    const bool allow = allow_slash31();
    *this = iphost();
    set_allow_slash31(allow);
    bool ok = false;
    std::string_view before_blank = text;
    if (const auto blank = text.find(' '); blank != std::string_view::npos) {
        before_blank = text.substr(0, blank);
        ok = parse_blank_form(text);
    }
    // An "address/prefix" first token wins over whatever the blank form made of the line.
    if (before_blank.find('/') != std::string_view::npos) {
        ok = parse_prefix_form(before_blank);
    }
    set_valid(ok);
    derive();
}

bool iphost::parse_blank_form(std::string_view text) {
    const token_pair tokens = split_once(text, text.find(' '), ' ');
    mask_.assign(tokens.second);
    mask_.set_allow_slash31(true);
    const bool ok = take_pair(tokens.first);
    // Accept the "wildcard" way of writing a mask, but keep the ordinary form.
    if (mask_.is_inverse_mask()) {
        mask_.assign(~mask_.value());
    }
    return ok;
}

bool iphost::parse_prefix_form(std::string_view text) {
    const token_pair tokens = split_once(text, text.find('/'), '/');
    unsigned prefix = 0;
    if (read_prefix(tokens.second, prefix) && prefix >= 1 && prefix <= 32) {
        mask_.assign(0xFFFFFFFFU << (32 - prefix));
    } else {
        mask_.assign(std::string_view{});
    }
    mask_.set_allow_slash31(true);
    return take_pair(tokens.first);
}

// Adopts the address when it reads as one and tells whether it pairs with the current mask.
bool iphost::take_pair(std::string_view address) {
    const ip candidate(address);
    if (candidate.valid()) {
        ip::assign(address);
    }
    return mask_.valid() && mask_.is_mask_like() && candidate.valid() &&
           candidate.is_address_like();
}

void iphost::derive() {
    network_.assign(text());
    network_.mask_with(mask_.text());
    last_.assign(network_.value() + ~mask_.value());
}

} // namespace corvane
