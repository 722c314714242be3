// Attribute tables of one rtnetlink message, shared by the decoders.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// As mnl_attr_parse with collect, walked inline: a dump decodes a hundred thousand messages.
// The walk ends quietly at the first attribute that does not fit, as libmnl's does.
template <size_t N> bool parse(const nlmsghdr* nlh, size_t header, Attrs<N>& attrs) {
    if (nlh->nlmsg_len < mnl_nlmsg_size(header))
        return false;
    const auto* base = reinterpret_cast<const uint8_t*>(nlh);
    size_t offset = MNL_NLMSG_HDRLEN + MNL_ALIGN(header);
    const size_t end = MNL_ALIGN(nlh->nlmsg_len); // to the padded end, as libmnl walks
    while (offset + sizeof(nlattr) <= end) {
        const auto* a = reinterpret_cast<const nlattr*>(base + offset);
        if (a->nla_len < sizeof(nlattr) || a->nla_len > end - offset)
            break;
        const uint16_t type = a->nla_type & NLA_TYPE_MASK;
        if (type < N)
            attrs.at[type] = a;
        offset += MNL_ALIGN(a->nla_len);
    }
    return true;
}

template <size_t N> bool parseNested(const nlattr* nest, Attrs<N>& attrs) {
    return mnl_attr_parse_nested(nest, collect<N>, &attrs) >= 0;
}

// A payload of exactly four bytes, as mnl_attr_validate wants of MNL_TYPE_U32.
inline bool u32(const nlattr* a, uint32_t& v) {
    if (!a || a->nla_len != MNL_ATTR_HDRLEN + sizeof(uint32_t))
        return false;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(a) + MNL_ATTR_HDRLEN, sizeof v);
    return true;
}

inline bool u8(const nlattr* a, uint8_t& v) {
    if (!a || mnl_attr_validate(a, MNL_TYPE_U8) < 0)
        return false;
    v = mnl_attr_get_u8(a);
    return true;
}

} // namespace corvane::sys::nl::attr
