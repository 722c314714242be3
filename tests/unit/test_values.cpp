#include "values/csv.h"
#include "values/ip.h"
#include "values/iphost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using corvane::Csv;
using corvane::ip;
using corvane::iphost;
using corvane::ipnetwork;

namespace {

// The set flags by name, so that one table row states all of them at once.
std::string flag_names(const ip& a) {
    const bool on[] = {a.is_address_like(), a.is_zero(),      a.is_mask(),     a.is_inverse_mask(),
                       a.is_all_ones(),     a.is_mask_like(), a.is_loopback(), a.is_class_a(),
                       a.is_class_b(),      a.is_class_c(),   a.is_class_d(),  a.is_class_e(),
                       a.is_apipa(),        a.is_private(),   a.is_slash31()};
    const char* names[] = {"address",  "zero",     "mask",  "inverse", "ones",
                           "masklike", "loopback", "A",     "B",       "C",
                           "D",        "E",        "apipa", "private", "slash31"};
    std::string set;
    for (std::size_t i = 0; i < std::size(on); ++i) {
        set += on[i] ? std::string(set.empty() ? "" : " ") + names[i] : "";
    }
    return set;
}

TEST(Ip, AcceptsOnlyStrictDottedQuads) {
    const std::pair<const char*, std::uint32_t> good[] = {{"010.001.002.003", 0x0A010203},
                                                          {"011.0.0.1", 0x0B000001},
                                                          {"1.2.3.000000255", 0x010203FF},
                                                          {"255.255.255.255", 0xFFFFFFFF},
                                                          {"0.0.0.0", 0}};
    for (const auto& [text, value] : good) {
        const ip a(text);
        EXPECT_TRUE(a.valid()) << text;
        EXPECT_EQ(a.value(), value) << text;
        EXPECT_EQ(a.text(), text);
    }
    const char* bad[] = {
        "1.2.3",           "1.2.3.4.5",        "1..2.3",           "1.2.3.",   ".1.2.3",
        " 1.2.3.4",        "1.2.3.4 ",         "1.2.3.256",        "+1.2.3.4", "1.2.3.-4",
        "1.2.3.999999999", "100.100.100.1000", "1.2.3.0000000004", "",         "..."};
    for (const char* text : bad) {
        const ip a(text);
        EXPECT_FALSE(a.valid()) << text;
        EXPECT_EQ(a.value(), 0U) << text;
        EXPECT_EQ(a.text(), "0.0.0.0") << text;
    }
    EXPECT_FALSE(ip(std::string_view("1.2.3.4\0", 8)).valid());

    // Beyond the length limit of ip itself: long digit runs must not wrap into small octets.
    std::uint32_t value = 0;
    EXPECT_FALSE(corvane::parse_quad("1.2.3.4294967300", value));
    EXPECT_FALSE(corvane::parse_quad("1.2.3.18446744073709551620", value));
    EXPECT_TRUE(corvane::parse_quad("1.2.3.00000000000000000000004", value));
    EXPECT_EQ(value, 0x01020304U);
}

TEST(Ip, Classifies) {
    // Each case: the address, '=', then every flag that must be set; cases end with ';'.
    std::string_view cases = "0.0.0.0=address zero;10.1.2.3=address A private;0.0.0.2=address A;"
                             "0.0.0.255=inverse masklike A;0.255.255.255=inverse masklike A;"
                             "126.255.255.255=address A;127.0.0.1=address loopback;"
                             "128.0.0.0=address B;172.15.255.255=address B;"
                             "172.16.0.1=address B private;172.31.255.255=address B private;"
                             "172.32.0.0=address B;169.254.3.4=address B apipa;"
                             "169.253.255.255=address B;192.168.1.1=address C private;"
                             "192.169.0.0=address C;223.255.255.255=address C;224.0.0.1=address D;"
                             "239.255.255.255=address D;240.0.0.0=address E;255.1.2.3=address E;"
                             "254.0.0.0=address E;255.0.255.0=address E;255.255.255.254=address E;"
                             "255.0.0.0=mask masklike;255.255.255.252=mask masklike;"
                             "255.255.255.255=mask ones masklike;";
    while (!cases.empty()) {
        const std::string_view c = cases.substr(0, cases.find(';'));
        cases.remove_prefix(std::min(c.size() + 1, cases.size()));
        const std::size_t equals = c.find('=');
        EXPECT_EQ(flag_names(ip(c.substr(0, equals))), c.substr(equals + 1)) << c;
    }
}

TEST(Ip, FlagsFollowTheCurrentValueAndSetting) {
    ip a("255.255.255.254");
    a.set_allow_slash31(true);
    EXPECT_EQ(flag_names(a), "mask masklike slash31");
    a.assign("255.255.255.0");
    EXPECT_EQ(flag_names(a), "mask masklike");
    a.assign(0xFFFFFFFEU);
    EXPECT_TRUE(a.is_slash31());
    a.set_allow_slash31(false);
    EXPECT_EQ(flag_names(a), "address E");

    // Invalid objects keep nothing of an earlier value.
    a.assign("192.168.1.x");
    EXPECT_EQ(flag_names(a), "zero");
    a.set_allow_slash31(true);
    EXPECT_EQ(flag_names(a), "zero");
    a.assign("10.0.0.1");
    a.assign("100.100.100.1000");
    EXPECT_EQ(flag_names(a), "");
    EXPECT_EQ(flag_names(ip()), "");
}

TEST(Ip, NumbersAndMaskingGiveValidAddresses) {
    const ip home(0xC0A80101U);
    EXPECT_EQ(home.text(), "192.168.1.1");
    EXPECT_EQ(flag_names(home), "address C private");
    EXPECT_EQ(ip(0U).text(), "0.0.0.0");
    EXPECT_TRUE(ip(0U).valid());

    const char* cases[][3] = {{"10.1.2.3", "255.255.0.0", "10.1.0.0"},
                              {"010.001.002.003", "255.0.0.0", "10.0.0.0"},
                              {"10.1.2.3", "0.0.255.255", "0.0.2.3"},
                              {"10.1.2.3", "not a mask", "0.0.0.0"},
                              {"bad", "255.255.255.255", "0.0.0.0"}};
    for (const auto& [address, mask, expected] : cases) {
        ip a(address);
        a.mask_with(mask);
        EXPECT_TRUE(a.valid());
        EXPECT_EQ(a.text(), expected) << address << " & " << mask;
    }
}

TEST(IpHost, ParsesBothForms) {
    struct Case {
        const char* text;
        bool valid;
        const char* network;
        std::uint32_t last;
        const char* mask;
    };
    const Case cases[] = {
        {"10.1.2.3 255.0.0.0", true, "10.0.0.0", 0x0AFFFFFF, "255.0.0.0"},
        {"10.1.2.3 0.255.255.255", true, "10.0.0.0", 0x0AFFFFFF, "255.0.0.0"},
        {"10.1.2.3 0.0.0.1", true, "10.1.2.2", 0x0A010203, "255.255.255.254"},
        {"10.1.2.3 255.255.0.0 extra", true, "10.1.0.0", 0x0A01FFFF, "255.255.0.0"},
        {"10.1.2.3/8", true, "10.0.0.0", 0x0AFFFFFF, "255.0.0.0"},
        {"10.1.2.3/31", true, "10.1.2.2", 0x0A010203, "255.255.255.254"},
        {"10.1.2.3/32", true, "10.1.2.3", 0x0A010203, "255.255.255.255"},
        {"10.1.2.3/24.9", true, "10.1.2.0", 0x0A0102FF, "255.255.255.0"},
        {"10.1.2.3/16 255.0.0.0", true, "10.1.0.0", 0x0A01FFFF, "255.255.0.0"},
        {"10.1.2.3/7", false, "0.0.0.0", 0x01FFFFFF, "254.0.0.0"},
        {"10.1.2.3/4294967320", false, "0.0.0.0", 0xFFFFFFFF, "0.0.0.0"},
        {"1.2.3.256/8", false, "0.0.0.0", 0x00FFFFFF, "255.0.0.0"},
        {"255.255.0.0 255.255.0.0", false, "0.0.0.0", 0x0000FFFF, "255.255.0.0"},
        {"10.0.0.0 0.0.0.0", false, "0.0.0.0", 0xFFFFFFFF, "0.0.0.0"},
        {"10.1.2.3 255.0.255.0", false, "0.0.0.0", 0x00FF00FF, "255.0.255.0"},
        // Only the first 31 characters count.
        {"010.001.002.003 255.255.255.00x", false, "0.0.0.0", 0xFFFFFFFF, "0.0.0.0"},
        {"010.001.002.003 255.255.255.000x", true, "10.1.2.0", 0x0A0102FF, "255.255.255.000"}};
    for (const Case& c : cases) {
        iphost fresh;
        fresh.parse(c.text);
        iphost reused; // must end up the same as a fresh one
        reused.parse("192.168.7.9/30");
        reused.parse(c.text);
        for (const iphost* h : {&fresh, &reused}) {
            EXPECT_EQ(h->valid(), c.valid) << c.text;
            EXPECT_EQ(h->network_text(), c.network) << c.text;
            EXPECT_EQ(h->last_value(), c.last) << c.text;
            EXPECT_EQ(h->mask().text(), c.mask) << c.text;
        }
    }
    const char* invalid[] = {"10.1.2.3/0", "10.1.2.3/33",         "10.1.2.3/8x", "10.1.2.3/8.",
                             "10.1.2.3/",  "10.1.2.3  255.0.0.0", "10.1.2.3"};
    for (const char* text : invalid) {
        iphost h;
        h.parse(text);
        EXPECT_FALSE(h.valid()) << text;
        EXPECT_EQ(h.network_text(), "0.0.0.0") << text;
    }
}

TEST(IpHost, BuildsFromAddressAndMaskTexts) {
    EXPECT_FALSE(iphost().valid());
    EXPECT_EQ(iphost().network_text(), "0.0.0.0");
    EXPECT_EQ(iphost().last_value(), 0xFFFFFFFFU);
    EXPECT_TRUE(iphost("0.0.0.0", "0.0.0.0").valid());
    EXPECT_TRUE(iphost("0.0.0.0", "0.0.0.0").is_zero());

    const iphost odd("10.1.2.3", "255.0.255.0"); // contiguity is not checked here
    EXPECT_TRUE(odd.valid());
    EXPECT_EQ(odd.network_text(), "10.0.2.0");
    EXPECT_EQ(odd.last_value(), 0x0AFF02FFU);

    // The address flags stay, but the invalid pair hides the address.
    const iphost bad_mask("192.168.1.5", "255.255.255.256");
    EXPECT_FALSE(bad_mask.valid());
    EXPECT_TRUE(bad_mask.is_private());
    EXPECT_EQ(bad_mask.text(), "0.0.0.0");
    EXPECT_EQ(bad_mask.network_text(), "0.0.0.0");

    EXPECT_EQ(ipnetwork("10.255.255.255", "255.0.0.0").last_value(), 0x0AFFFFFFU);
}

TEST(Csv, Splits) {
    struct Case {
        const char* line;
        char separator;
        int count;
        std::vector<const char*> fields;
    };
    const Case cases[] = {{"a b", ' ', 2, {"a", "b"}},
                          {"a b ", ' ', 2, {"a", "b "}},
                          {"a  b", ' ', 1, {"a"}},
                          {"a  b c", ' ', 2, {"a", ""}},
                          {"  a", ' ', 1, {""}},
                          {"a,,", ',', 0, {}},
                          {",a", ',', 2, {"", "a"}},
                          {"", ' ', 1, {""}},
                          {"x\ty z", ' ', 2, {"x\ty", "z"}},
                          {"5.1.2600.2180", '.', 4, {"5", "1", "2600", "2180"}}};
    for (const Case& c : cases) {
        const Csv csv(c.line, c.separator);
        EXPECT_EQ(csv.count(), c.count) << c.line;
        for (int n = -1; n <= c.count + 1; ++n) {
            const bool listed = n >= 1 && n <= static_cast<int>(c.fields.size());
            EXPECT_STREQ(csv.field(n), listed ? c.fields[n - 1] : "") << c.line << " #" << n;
        }
    }
}

// Text near the accepted forms, or noise, with one character sometimes damaged.
std::string random_line(std::mt19937& rng) {
    const auto below = [&rng](unsigned n) {
        return std::uniform_int_distribution<unsigned>(0, n - 1)(rng);
    };
    const auto any_char = [&below] {
        const unsigned k = below(18);
        return k < 16 ? "0123456789..  /,"[k] : static_cast<char>(below(256));
    };
    const auto quad = [&below] {
        const unsigned kind = below(4);
        return ip(kind == 0   ? 0xFFFFFFFFU << below(32)
                  : kind == 1 ? ~(0xFFFFFFFFU << below(32))
                              : below(0xFFFFFFFF))
            .text();
    };
    std::string line;
    switch (below(4)) {
    case 0:
        line = std::string(below(2), '0') + quad();
        break;
    case 1:
        line = quad() + ' ' + quad();
        break;
    case 2:
        line = quad() + '/' + std::to_string(below(40)) + (below(4) == 0 ? ".5" : "");
        break;
    default:
        for (unsigned n = below(41); n > 0; --n) {
            line += any_char();
        }
    }
    if (!line.empty() && below(3) == 0) {
        line[below(static_cast<unsigned>(line.size()))] = any_char();
    }
    return line;
}

// Whatever the input, nothing may crash or read out of bounds, and the invariants that callers
// rely on must hold.
TEST(Values, RandomInputKeepsInvariants) {
    std::mt19937 rng(20240611);
    iphost reused;
    int valid_addresses = 0;
    int valid_hosts = 0;
    for (int round = 0; round < 200000; ++round) {
        const std::string s = random_line(rng);
        const ip a(s);
        valid_addresses += a.valid() ? 1 : 0;
        if (a.valid()) {
            ASSERT_EQ(a.text(), s);
            ASSERT_EQ(ip(ip(a.value()).text()).value(), a.value());
            ASSERT_EQ(a.is_mask_like(), !a.is_address_like() && !a.is_zero());
        } else {
            ASSERT_EQ(a.text(), "0.0.0.0");
            ASSERT_EQ(a.value(), 0U);
            ASSERT_TRUE(a.is_zero() || s.size() > ip::max_text_length);
            ASSERT_FALSE(a.is_address_like() || a.is_mask_like() || a.is_class_a());
        }

        iphost fresh;
        fresh.parse(s);
        reused.parse(s);
        valid_hosts += fresh.valid() ? 1 : 0;
        ASSERT_EQ(reused.valid(), fresh.valid());
        ASSERT_EQ(reused.mask().text(), fresh.mask().text());
        const std::uint32_t mask = fresh.mask().value();
        ASSERT_EQ(fresh.network().value(), fresh.value() & mask);
        ASSERT_EQ(fresh.last_value(), fresh.network().value() + ~mask);
        ASSERT_TRUE(!fresh.valid() || (fresh.mask().is_mask_like() && fresh.is_address_like()));

        const Csv csv(s, ",. /"[std::uniform_int_distribution<int>(0, 3)(rng)]);
        ASSERT_GE(csv.count(), 0);
        for (int n = -1; n <= csv.count() + 2; ++n) {
            const std::string_view field = csv.field(n);
            ASSERT_NE(s.find(field), std::string::npos); // a piece of the line, or empty
        }
    }
    // Guards against a generator that drifts into exercising only rejections.
    EXPECT_GT(valid_addresses, 20000);
    EXPECT_GT(valid_hosts, 20000);
}

} // namespace
