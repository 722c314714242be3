// The resolver file and the per-link resolver state, and the server lists made of them.
#include "resolver.h"
#include "fuzz_support.h"

#include <arpa/inet.h>
#include <string>

namespace {

// Every server handed out is a plain dotted quad in the form the C library writes it.
void checkServers(const std::vector<std::string>& given) {
    const std::vector<std::string> servers = corvane::sys::ipv4Servers(given);
    FUZZ_CHECK(servers.size() <= given.size());
    for (const std::string& s : servers) {
        in_addr a{};
        char canonical[INET_ADDRSTRLEN];
        FUZZ_CHECK(::inet_pton(AF_INET, s.c_str(), &a) == 1);
        FUZZ_CHECK(s == ::inet_ntop(AF_INET, &a, canonical, sizeof canonical));
    }
}

bool hasBlank(const std::string& s) {
    return s.find_first_of(" \t\r\n") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        const std::string_view text = corvane::fuzz::text(data, size);
        const corvane::sys::ResolverConfig global = corvane::sys::parseResolvConf(text);
        for (const std::string& s : global.nameservers)
            FUZZ_CHECK(!s.empty() && !hasBlank(s));
        for (const std::string& s : global.search)
            FUZZ_CHECK(!s.empty() && !hasBlank(s));
        checkServers(global.nameservers);

        const corvane::sys::LinkResolver link = corvane::sys::parseLinkResolver(text);
        for (const std::string& d : link.domains)
            FUZZ_CHECK(!d.empty() && d.front() != '~' && !hasBlank(d));
        checkServers(link.servers);
    });
}
