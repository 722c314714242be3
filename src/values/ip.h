#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// An IPv4 address held both as the text it was given and as a host-order number, with the
// classification flags every page asks about. Invalid input never throws: it only leaves
// valid() false, text() "0.0.0.0" and value() 0.
class ip {
public:
    // Longest dotted quad we accept ("255.255.255.255"); longer texts are rejected unparsed.
    static constexpr std::size_t max_text_length = 15;

    ip() = default;
    explicit ip(std::string_view text);
    explicit ip(std::uint32_t value);
    ip(const ip&) = default;
    ip(ip&&) noexcept = default;
    ip& operator=(const ip&) = default;
    ip& operator=(ip&&) noexcept = default;
    virtual ~ip() = default;

    void assign(std::string_view text);
    void assign(std::uint32_t value);

    // The stored text, verbatim (leading zeros kept), or "0.0.0.0" when invalid.
    const std::string& text() const;
    std::uint32_t value() const { return valid_ ? value_ : 0; }

    // ANDs another address into this one; an invalid argument counts as 0.0.0.0, so the
    // result is always a valid address.
    void mask_with(std::string_view mask_text);

    void set_allow_slash31(bool allow);
    bool allow_slash31() const { return allow_slash31_; }

    bool valid() const { return valid_; }
    bool is_address_like() const { return is_address_like_; }
    bool is_zero() const { return is_zero_; }
    bool is_mask() const { return is_mask_; }
    bool is_inverse_mask() const { return is_inverse_mask_; }
    bool is_all_ones() const { return is_all_ones_; }
    bool is_mask_like() const { return is_mask_like_; }
    bool is_loopback() const { return is_loopback_; }
    bool is_class_a() const { return is_class_a_; }
    bool is_class_b() const { return is_class_b_; }
    bool is_class_c() const { return is_class_c_; }
    bool is_class_d() const { return is_class_d_; }
    bool is_class_e() const { return is_class_e_; }
    bool is_apipa() const { return is_apipa_; }
    bool is_private() const { return is_private_; }
    bool is_slash31() const { return is_slash31_; }

protected:
    // iphost reuses the base validity for the address-and-mask pair.
    void set_valid(bool valid) { valid_ = valid; }

private:
    void clear_flags();
    void classify();

    bool valid_ = false;
    bool is_address_like_ = false;
    bool is_zero_ = false;
    bool is_mask_ = false;
    bool is_inverse_mask_ = false;
    bool is_all_ones_ = false;
    bool is_mask_like_ = false;
    bool is_loopback_ = false;
    bool is_class_a_ = false;
    bool is_class_b_ = false;
    bool is_class_c_ = false;
    bool is_class_d_ = false;
    bool is_class_e_ = false;
    bool is_apipa_ = false;
    bool is_private_ = false;
    bool is_slash31_ = false;
    std::string text_;
    std::uint32_t value_ = 0;
    bool allow_slash31_ = false;
};

// Formats a host-order value as a plain dotted quad ("192.168.1.1").
std::string format_quad(std::uint32_t value);

// Reads a strict dotted quad: four decimal octets of at most 255, leading zeros allowed, three
// dots, nothing else. Safe for texts of any length.
bool parse_quad(std::string_view text, std::uint32_t& value);

} // namespace corvane
