#include "values/ip.h"

#include "registry/route_name.h"

namespace corvane {

namespace {

constexpr std::uint32_t quad(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

constexpr std::uint32_t all_ones = quad(255, 255, 255, 255);
constexpr std::uint32_t slash31_mask = quad(255, 255, 255, 254);
constexpr std::uint32_t shortest_mask = quad(255, 0, 0, 0); // prefixes below /8 are not masks here

// True when the bits, read from the top, are ones followed only by zeros.
constexpr bool ones_from_top(std::uint32_t v) {
    const std::uint32_t inverted = ~v;
    return (inverted & (inverted + 1)) == 0;
}

// True when the bits, read from the bottom, are ones followed only by zeros.
constexpr bool ones_from_bottom(std::uint32_t v) {
    return (v & (v + 1)) == 0;
}

constexpr bool in_range(std::uint32_t v, std::uint32_t first, std::uint32_t last) {
    return v >= first && v <= last;
}

} // namespace

std::string format_quad(std::uint32_t value) {
    return reg::quadText(value);
}

bool parse_quad(std::string_view text, std::uint32_t& value) {
    // The persistent route names read quads the same way: one rule for both.
    return reg::readQuadDigits(text, value);
}

ip::ip(std::string_view text) {
    assign(text);
}

ip::ip(std::uint32_t value) {
    assign(value);
}

void ip::assign(std::string_view text) {
    valid_ = false;
    value_ = 0;
    clear_flags();
    static_assert(max_text_length == reg::kMaxQuadText);
    if (text.size() > max_text_length) {
        // Rejected unread: the object looks freshly built rather than like a failed parse.
        text_.clear();
        return;
    }
    text_.assign(text);
    is_zero_ = true;
    std::uint32_t parsed = 0;
    if (!parse_quad(text_, parsed)) {
        return;
    }
    value_ = parsed;
    classify();
    valid_ = true;
}

void ip::assign(std::uint32_t value) {
    assign(format_quad(value));
}

const std::string& ip::text() const {
    static const std::string zero_text{"0.0.0.0"};
    return valid_ ? text_ : zero_text;
}

void ip::mask_with(std::string_view mask_text) {
    assign(value() & ip(mask_text).value());
}

void ip::set_allow_slash31(bool allow) {
    allow_slash31_ = allow;
    // An invalid object keeps the flags of a failed parse; there is no value to classify.
    if (valid_) {
        classify();
    }
}

void ip::clear_flags() {
    is_address_like_ = false;
    is_zero_ = false;
    is_mask_ = false;
    is_inverse_mask_ = false;
    is_all_ones_ = false;
    is_mask_like_ = false;
    is_loopback_ = false;
    is_class_a_ = false;
    is_class_b_ = false;
    is_class_c_ = false;
    is_class_d_ = false;
    is_class_e_ = false;
    is_apipa_ = false;
    is_private_ = false;
    is_slash31_ = false;
}

void ip::classify() {
    const std::uint32_t v = value_;
    const std::uint32_t first = v >> 24;

    is_slash31_ = allow_slash31_ && v == slash31_mask;
    is_mask_ = v >= shortest_mask && ones_from_top(v) && (v != slash31_mask || allow_slash31_);
    is_zero_ = v == 0;
    is_inverse_mask_ = first == 0 && !is_zero_ && ones_from_bottom(v);
    is_all_ones_ = v == all_ones;
    is_address_like_ = !is_mask_ && !is_inverse_mask_ && !is_all_ones_;
    is_mask_like_ = !is_address_like_ && !is_zero_;
    is_class_a_ = !is_zero_ && first < 127;
    is_loopback_ = first == 127;
    is_class_e_ = first >= 240 && !is_mask_like_;
    is_class_d_ = in_range(first, 224, 239);
    is_class_c_ = in_range(first, 192, 223);
    is_class_b_ = in_range(first, 128, 191);
    is_private_ = first == 10 || in_range(v, quad(172, 16, 0, 0), quad(172, 31, 255, 255)) ||
                  in_range(v, quad(192, 168, 0, 0), quad(192, 168, 255, 255));
    is_apipa_ = in_range(v, quad(169, 254, 0, 0), quad(169, 254, 255, 255));
}

} // namespace corvane
