#pragma once

#include "values/ip.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// An address (the ip base part) with a subnet mask and the network and last address derived
// from them. The base flags describe the address alone; valid() is the validity of the pair,
// so text() and value() read "0.0.0.0" and 0 unless both halves are acceptable.
class iphost : public ip {
public:
    // Longest input parse() looks at; the rest of a longer text is ignored.
    static constexpr std::size_t max_parse_length = 31;

    iphost();
    // Takes the mask as given: it is neither checked for contiguity nor turned around when
    // written as an inverse mask.
    iphost(std::string_view address, std::string_view mask);
    iphost(const iphost&) = default;
    iphost(iphost&&) noexcept = default;
    iphost& operator=(const iphost&) = default;
    iphost& operator=(iphost&&) noexcept = default;
    ~iphost() override = default;

    // Reads "address mask" (one blank; an inverse mask is turned into the plain mask) or
    // "address/prefix" (a fraction of the prefix is dropped; 8 to 32 in effect). The address
    // must be address-like and the mask mask-like; /31 is accepted. Nothing of the previous
    // value survives, so an object can be reused.
    void parse(std::string_view text);

    const ip& mask() const { return mask_; }
    const ip& network() const { return network_; }
    const ip& last() const { return last_; }
    const std::string& network_text() const { return network_.text(); }
    std::uint32_t last_value() const { return last_.value(); }

private:
    bool take_pair(std::string_view address);
    bool parse_blank_form(std::string_view text);
    bool parse_prefix_form(std::string_view text);
    void derive();

    ip mask_;
    ip network_;
    ip last_;
};

// A route destination with its mask, as the routing table uses it.
class ipnetwork : public iphost {
public:
    using iphost::iphost;
};

} // namespace corvane
