// Attribute tables of one rtnetlink message, shared by the decoders.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <libmnl/libmnl.h>

namespace corvane::sys::nl::attr {

// Attributes of one message by type; a later duplicate wins, unknown types are ignored.
template <size_t N> struct Attrs {
    std::array<const nlattr*, N> at{};
    const nlattr* operator[](size_t t) const { return t < N ? at[t] : nullptr; }
};

template <size_t N> int collect(const nlattr* a, void* data) {
    auto* at = static_cast<Attrs<N>*>(data);
    const uint16_t type = mnl_attr_get_type(a);
    if (type < N)
        at->at[type] = a;
    return MNL_CB_OK;
}

template <size_t N> bool parse(const nlmsghdr* nlh, size_t header, Attrs<N>& attrs) {
    if (nlh->nlmsg_len < mnl_nlmsg_size(header))
        return false;
    return mnl_attr_parse(nlh, static_cast<unsigned>(header), collect<N>, &attrs) >= 0;
}

template <size_t N> bool parseNested(const nlattr* nest, Attrs<N>& attrs) {
    return mnl_attr_parse_nested(nest, collect<N>, &attrs) >= 0;
}

inline bool u32(const nlattr* a, uint32_t& v) {
    if (!a || mnl_attr_validate(a, MNL_TYPE_U32) < 0)
        return false;
    v = mnl_attr_get_u32(a);
    return true;
}

inline bool u8(const nlattr* a, uint8_t& v) {
    if (!a || mnl_attr_validate(a, MNL_TYPE_U8) < 0)
        return false;
    v = mnl_attr_get_u8(a);
    return true;
}

} // namespace corvane::sys::nl::attr
