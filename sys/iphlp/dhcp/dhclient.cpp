#include "dhclient.h"

#include "corvane_result.h"
#include "foreign_file.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <thread>

namespace corvane::sys::dhcp::dhclient {
namespace {

struct Token {
    enum Kind { Word, String, End, Open, Close } kind;
    std::string text;
};

// The database's grammar: words, quoted strings, ";", "{", "}", and "#" comments (the local
// time after an epoch date is one).
std::vector<Token> tokenize(std::string_view text) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '#') {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (c == ';' || c == '{' || c == '}') {
            tokens.push_back({c == ';' ? Token::End : c == '{' ? Token::Open : Token::Close, {}});
            ++i;
        } else if (c == '"') {
            std::string s;
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size())
                    ++i;
                s += text[i];
            }
            ++i;
            tokens.push_back({Token::String, std::move(s)});
        } else {
            const size_t start = i;
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])) &&
                   std::string_view(";{}\"").find(text[i]) == std::string_view::npos)
                ++i;
            tokens.push_back({Token::Word, std::string(text.substr(start, i - start))});
        }
    }
    return tokens;
}

using Statement = std::vector<std::string>;

// "2 2026/12/08 10:00:00" (UTC), "epoch 1765188000", "never"; nullopt when unreadable.
std::optional<int64_t> parseDate(const Statement& s) {
    if (s.size() == 2 && s[1] == "never")
        return Lease::kNever;
    if (s.size() == 3 && s[1] == "epoch") {
        char* end = nullptr;
        const long long v = std::strtoll(s[2].c_str(), &end, 10);
        return *end == '\0' && !s[2].empty() && v > 0 ? std::optional<int64_t>(v) : std::nullopt;
    }
    if (s.size() != 3 && s.size() != 4)
        return std::nullopt;
    const std::string& date = s[s.size() - 2];
    const std::string& time = s[s.size() - 1];
    tm t = {};
    int n1 = 0, n2 = 0;
    if (std::sscanf(date.c_str(), "%d/%d/%d%n", &t.tm_year, &t.tm_mon, &t.tm_mday, &n1) != 3 ||
        std::sscanf(time.c_str(), "%d:%d:%d%n", &t.tm_hour, &t.tm_min, &t.tm_sec, &n2) != 3 ||
        static_cast<size_t>(n1) != date.size() || static_cast<size_t>(n2) != time.size())
        return std::nullopt;
    if (t.tm_year < 1970 || t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 || t.tm_mday > 31 ||
        t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 60 || t.tm_hour < 0 || t.tm_min < 0 ||
        t.tm_sec < 0)
        return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<int64_t>(::timegm(&t));
}

std::optional<uint32_t> parseAddress(const std::string& text) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return std::nullopt;
    return a.s_addr;
}

struct Record {
    std::string interface;
    std::optional<uint32_t> address;
    uint32_t server = 0;
    std::optional<int64_t> leaseTime, renew, rebind, expire;
};

Record interpret(const std::vector<Statement>& statements) {
    Record r;
    for (const Statement& s : statements) {
        if (s.size() == 2 && s[0] == "interface")
            r.interface = s[1];
        else if (s.size() == 2 && s[0] == "fixed-address")
            r.address = parseAddress(s[1]);
        else if (s.size() == 3 && s[0] == "option" && s[1] == "dhcp-server-identifier")
            r.server = parseAddress(s[2]).value_or(0);
        else if (s.size() == 3 && s[0] == "option" && s[1] == "dhcp-lease-time") {
            char* end = nullptr;
            const unsigned long long v = std::strtoull(s[2].c_str(), &end, 10);
            if (*end == '\0' && !s[2].empty() && v <= 0xFFFFFFFFULL)
                r.leaseTime = static_cast<int64_t>(v);
        } else if (!s.empty() && s[0] == "renew")
            r.renew = parseDate(s);
        else if (!s.empty() && s[0] == "rebind")
            r.rebind = parseDate(s);
        else if (!s.empty() && s[0] == "expire")
            r.expire = parseDate(s);
    }
    return r;
}

// Skips from an Open token to just past its matching Close.
size_t skipBlock(const std::vector<Token>& tokens, size_t i) {
    int depth = 0;
    for (; i < tokens.size(); ++i) {
        depth += tokens[i].kind == Token::Open ? 1 : tokens[i].kind == Token::Close ? -1 : 0;
        if (depth == 0)
            return i + 1;
    }
    return i;
}

} // namespace

std::optional<Lease> parseLeases(std::string_view text, const std::string& ifName) {
    const std::vector<Token> tokens = tokenize(text);
    std::optional<Record> last;
    size_t i = 0;
    while (i < tokens.size()) {
        const bool leaseBlock = tokens[i].kind == Token::Word && tokens[i].text == "lease" &&
                                i + 1 < tokens.size() && tokens[i + 1].kind == Token::Open;
        if (!leaseBlock) {
            // Anything else at the top (default-duid, lease6 blocks) is passed over whole.
            while (i < tokens.size() && tokens[i].kind != Token::End &&
                   tokens[i].kind != Token::Open)
                ++i;
            i = i < tokens.size() && tokens[i].kind == Token::Open ? skipBlock(tokens, i) : i + 1;
            continue;
        }
        std::vector<Statement> statements;
        Statement current;
        bool closed = false;
        for (i += 2; i < tokens.size() && !closed;) {
            switch (tokens[i].kind) {
            case Token::Open:
                i = skipBlock(tokens, i);
                current.clear();
                continue;
            case Token::Close:
                closed = true;
                break;
            case Token::End:
                statements.push_back(std::move(current));
                current.clear();
                break;
            default:
                current.push_back(tokens[i].text);
            }
            ++i;
        }
        // A block cut short by a write in progress is not a lease yet.
        if (!closed)
            break;
        Record r = interpret(statements);
        if (r.interface == ifName && r.address)
            last = std::move(r);
    }
    // On release the client records the lease once more, renewal, rebinding and expiry all
    // set to that moment.
    if (!last || (last->expire && last->renew == last->expire && last->rebind == last->expire &&
                  *last->expire != Lease::kNever))
        return std::nullopt;
    Lease lease;
    lease.address = *last->address;
    lease.server = last->server;
    lease.expires = last->expire.value_or(0);
    if (last->expire && last->leaseTime && *last->expire != Lease::kNever)
        lease.obtained = *last->expire - *last->leaseTime;
    return lease;
}

std::optional<Lease> readLease(const std::string& leaseFile, const std::string& ifName) {
    // The database is rewritten whole from time to time; one grown past the cap is refused
    // rather than read in part, which would show an older lease.
    const auto file = readForeignFile(leaseFile, kLeaseFileCap);
    if (!file)
        return std::nullopt;
    return parseLeases(file->content, ifName);
}

namespace {

std::vector<std::string> withOptions(const std::string& program, const Invocation& client) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), client.options.begin(), client.options.end());
    return argv;
}

} // namespace

std::vector<std::string> releaseCommand(const std::string& program, const Invocation& client,
                                        const std::string& ifName) {
    auto argv = withOptions(program, client);
    argv.insert(argv.end(), {"-r", ifName});
    return argv;
}

std::vector<std::string> stopCommand(const std::string& program, const Invocation& client,
                                     const std::string& ifName) {
    auto argv = withOptions(program, client);
    argv.insert(argv.end(), {"-x", ifName});
    return argv;
}

std::vector<std::string> startCommand(const std::string& program, const Invocation& client) {
    // In the background at once, to keep asking however long the server is silent; all of
    // its interfaces again, since stopping it stopped them all.
    auto argv = withOptions(program, client);
    argv.emplace_back("-nw");
    argv.insert(argv.end(), client.interfaces.begin(), client.interfaces.end());
    return argv;
}

DWORD release(const Invocation& client, const std::string& ifName, Clock::time_point deadline,
              bool mayStart) {
    // A client that is not running holds no lease: it was released or gave up already.
    if (!client.running())
        return NO_ERROR;
    // -r is a second client, whose script would run inside the helper's sandbox.
    if (!mayStart)
        return ERROR_DHCP_NOT_FROM_HELPER;
    const std::string program = systemProgram("dhclient");
    if (program.empty())
        return ERROR_NO_DHCP_CLIENT;
    const DWORD rc = resultOf(run(releaseCommand(program, client, ifName), deadline));
    if (rc != NO_ERROR)
        return rc;
    // -r stops the client its pid file names; one started without a pid file is still there.
    return stopProcess(client.pid, client.startTime, deadline) ? NO_ERROR : ERROR_TIMEOUT;
}

DWORD renew(const Invocation& client, const std::string& ifName, Clock::time_point deadline,
            bool mayStart) {
    if (!mayStart)
        return ERROR_DHCP_NOT_FROM_HELPER;
    const std::string program = systemProgram("dhclient");
    if (program.empty())
        return ERROR_NO_DHCP_CLIENT;
    // The new lease is told from the old by when it was obtained, in whole seconds: one
    // obtained this very second is waited past.
    const auto before = readLease(client.leaseFile, ifName);
    while (before && before->obtained >= std::time(nullptr) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int64_t asked = std::time(nullptr);
    // Two clients would both serve the interface: the running one goes first.
    if (client.running() && !killProcess(client.pid, client.startTime, deadline))
        return ERROR_TIMEOUT;
    const DWORD rc = resultOf(run(startCommand(program, client), deadline));
    if (rc != NO_ERROR)
        return rc;
    const bool bound = waitUntil(
        [&] {
            const auto lease = readLease(client.leaseFile, ifName);
            return lease && lease->obtained >= asked;
        },
        deadline);
    return bound ? NO_ERROR : ERROR_DHCP_NO_ANSWER;
}

} // namespace corvane::sys::dhcp::dhclient
