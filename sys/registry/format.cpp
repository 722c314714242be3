#include "registry/format.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <unordered_set>

namespace corvane::reg {
namespace {

char fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string folded(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), fold);
    return out;
}

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

// True when path lies strictly below parent; rest receives what follows "parent\".
bool below(std::string_view path, std::string_view parent, std::string_view* rest) {
    if (path.size() <= parent.size() + 1 || path[parent.size()] != '\\')
        return false;
    if (!sameName(path.substr(0, parent.size()), parent))
        return false;
    if (rest)
        *rest = path.substr(parent.size() + 1);
    return true;
}

bool needsEscape(char c) {
    return c == '\\' || c == '"' || isControl(static_cast<unsigned char>(c));
}

void appendQuoted(std::string& out, std::string_view s) {
    static constexpr char hex[] = "0123456789ABCDEF";
    out += '"';
    while (!s.empty()) {
        // Plain runs go in whole: a value may be megabytes long.
        const auto plain = std::find_if(s.begin(), s.end(), needsEscape);
        out.append(s.begin(), plain);
        s.remove_prefix(static_cast<std::size_t>(plain - s.begin()));
        if (s.empty())
            break;
        const char c = s.front();
        s.remove_prefix(1);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            const auto u = static_cast<unsigned char>(c);
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 0xf];
        }
        }
    }
    out += '"';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = fold(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads a quoted string at the start of s; advances s past it.
std::optional<std::string> readQuoted(std::string_view& s, std::string& why) {
    if (s.empty() || s.front() != '"') {
        why = "expected a quoted text";
        return std::nullopt;
    }
    std::string out;
    // The next quote and backslash, each looked for again only once passed: a long text
    // is scanned once, at the speed of memchr.
    const auto next = [&](char c, std::size_t from) {
        const void* at =
            from < s.size() ? std::memchr(s.data() + from, c, s.size() - from) : nullptr;
        return at ? static_cast<std::size_t>(static_cast<const char*>(at) - s.data())
                  : std::string_view::npos;
    };
    std::size_t quote = next('"', 1);
    std::size_t backslash = next('\\', 1);
    std::size_t i = 1;
    for (;;) {
        if (quote < i)
            quote = next('"', i);
        if (backslash < i)
            backslash = next('\\', i);
        const std::size_t stop = std::min(quote, backslash);
        if (stop == std::string_view::npos || (s[stop] == '\\' && stop + 1 == s.size())) {
            why = "unterminated quoted text";
            return std::nullopt;
        }
        out.append(s.substr(i, stop - i));
        if (s[stop] == '"') {
            s.remove_prefix(stop + 1);
            return out;
        }
        i = stop + 1;
        switch (s[i]) {
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            const int hi = i + 1 < s.size() ? hexDigit(s[i + 1]) : -1;
            const int lo = i + 2 < s.size() ? hexDigit(s[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                why = "bad \\x escape";
                return std::nullopt;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            why = "unknown escape";
            return std::nullopt;
        }
        ++i;
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// One "name" = type:value line.
std::optional<std::pair<std::string, Value>> parseValueLine(std::string_view s, std::string& why) {
    auto name = readQuoted(s, why);
    if (!name)
        return std::nullopt;
    s = trim(s);
    if (s.empty() || s.front() != '=') {
        why = "expected '=' after the value name";
        return std::nullopt;
    }
    s = trim(s.substr(1));
    if (startsWith(s, "int:")) {
        s.remove_prefix(4);
        std::int32_t v = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (ec != std::errc() || end != s.data() + s.size() || s.empty()) {
            why = "not a 32-bit integer";
            return std::nullopt;
        }
        return std::pair{std::move(*name), Value::ofInteger(v)};
    }
    if (startsWith(s, "str:")) {
        s.remove_prefix(4);
        auto text = readQuoted(s, why);
        if (!text)
            return std::nullopt;
        if (!trim(s).empty()) {
            why = "text after the string";
            return std::nullopt;
        }
        return std::pair{std::move(*name), Value::ofString(std::move(*text))};
    }
    why = "unknown value type (int: or str: expected)";
    return std::nullopt;
}

} // namespace

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return fold(x) == fold(y); });
}

const Value* KeyData::find(std::string_view name) const {
    for (const auto& [n, v] : values) {
        if (sameName(n, name))
            return &v;
    }
    return nullptr;
}

void KeyData::set(std::string_view name, Value value) {
    for (auto& [n, v] : values) {
        if (sameName(n, name)) {
            v = std::move(value);
            return;
        }
    }
    values.emplace_back(std::string(name), std::move(value));
}

bool KeyData::erase(std::string_view name) {
    const auto it = std::find_if(values.begin(), values.end(),
                                 [&](const auto& nv) { return sameName(nv.first, name); });
    if (it == values.end())
        return false;
    values.erase(it);
    return true;
}

std::optional<std::string> normaliseKeyPath(std::string_view path) {
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    if (path.empty() || path.find("\\\\") != std::string_view::npos)
        return std::nullopt;
    if (std::any_of(path.begin(), path.end(),
                    [](char c) { return isControl(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    return std::string(path);
}

const KeyData* Data::findKey(std::string_view path) const {
    const auto norm = normaliseKeyPath(path);
    if (!norm)
        return nullptr;
    const auto it = index_.find(folded(*norm));
    return it == index_.end() ? nullptr : &keys_[it->second];
}

KeyData& Data::makeKey(std::string_view path) {
    const auto norm = normaliseKeyPath(path);
    if (!norm)
        throw std::invalid_argument("not a valid key path");
    const auto [it, added] = index_.try_emplace(folded(*norm), keys_.size());
    if (!added)
        return keys_[it->second];
    return keys_.emplace_back(KeyData{*norm, {}});
}

bool Data::keyExists(std::string_view path) const {
    const auto norm = normaliseKeyPath(path);
    if (!norm)
        return false;
    if (index_.contains(folded(*norm)))
        return true;
    return std::any_of(keys_.begin(), keys_.end(),
                       [&](const KeyData& k) { return below(k.path, *norm, nullptr); });
}

std::vector<std::string> Data::subkeys(std::string_view path) const {
    std::vector<std::string> out;
    const auto norm = normaliseKeyPath(path);
    if (!norm)
        return out;
    std::unordered_set<std::string> seen;
    for (const auto& k : keys_) {
        std::string_view rest;
        if (!below(k.path, *norm, &rest))
            continue;
        const std::string_view child = rest.substr(0, rest.find('\\'));
        if (seen.insert(folded(child)).second)
            out.emplace_back(child);
    }
    return out;
}

std::size_t Data::eraseKey(std::string_view path) {
    const auto norm = normaliseKeyPath(path);
    if (!norm)
        return 0;
    const std::size_t removed = std::erase_if(keys_, [&](const KeyData& k) {
        return sameName(k.path, *norm) || below(k.path, *norm, nullptr);
    });
    if (removed > 0) {
        index_.clear();
        for (std::size_t i = 0; i < keys_.size(); ++i)
            index_.emplace(folded(keys_[i].path), i);
    }
    return removed;
}

TolerantParse parseTolerantly(std::string_view text) {
    TolerantParse out;
    KeyData* current = nullptr;
    int sectionLine = 0; // of the last section name; current is null when it was unreadable
    std::unordered_map<std::string, int> seen; // key path and value name, folded -> line
    int lineNo = 0;
    const auto skip = [&](std::string why) { out.unreadable.push_back({lineNo, std::move(why)}); };
    while (!text.empty()) {
        ++lineNo;
        const std::size_t eol = text.find('\n');
        const std::string_view raw = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            current = nullptr;
            sectionLine = lineNo;
            if (line.back() != ']') {
                skip("unterminated section name");
                continue;
            }
            const auto path = normaliseKeyPath(line.substr(1, line.size() - 2));
            if (!path) {
                skip("not a valid key path");
                continue;
            }
            current = &out.data.makeKey(*path);
            continue;
        }
        if (!current) {
            // Placing it in another section would change its meaning.
            skip(sectionLine > 0
                     ? "value of the unreadable section of line " + std::to_string(sectionLine)
                     : std::string("value outside a section"));
            continue;
        }
        std::string why;
        auto nv = parseValueLine(line, why);
        if (!nv) {
            skip(std::move(why));
            continue;
        }
        // Two spellings of one name would make every read ambiguous.
        const auto [first, added] =
            seen.try_emplace(folded(current->path) + '\n' + folded(nv->first), lineNo);
        if (!added) {
            skip("value \"" + nv->first + "\" appears twice (line " +
                 std::to_string(first->second) + " is kept)");
            continue;
        }
        current->values.push_back(std::move(*nv));
    }
    return out;
}

std::optional<Data> parse(std::string_view text, ParseError* error) {
    TolerantParse parsed = parseTolerantly(text);
    if (parsed.unreadable.empty())
        return std::move(parsed.data);
    if (error)
        *error = std::move(parsed.unreadable.front());
    return std::nullopt;
}

std::string unreadableLinesText(const std::vector<ParseError>& lines, std::size_t shown) {
    std::string out;
    for (std::size_t i = 0; i < lines.size() && i < shown; ++i) {
        if (i > 0)
            out += "; ";
        out += "line " + std::to_string(lines[i].line) + ": " + lines[i].message;
    }
    if (lines.size() > shown)
        out += "; and " + std::to_string(lines.size() - shown) + " more";
    return out;
}

std::string serialize(const Data& data) {
    std::string out = "; Corvane settings store: [key path] sections, \"name\" = int:N or "
                      "\"name\" = str:\"text\"\n";
    std::size_t size = out.size();
    for (const auto& key : data.keys()) {
        size += key.path.size() + 4;
        for (const auto& [name, value] : key.values)
            size += name.size() + value.text.size() + 24;
    }
    out.reserve(size);
    for (const auto& key : data.keys()) {
        out += "\n[";
        out += key.path;
        out += "]\n";
        for (const auto& [name, value] : key.values) {
            appendQuoted(out, name);
            if (value.type == ValueType::Integer) {
                out += " = int:";
                out += std::to_string(value.integer);
            } else {
                out += " = str:";
                appendQuoted(out, value.text);
            }
            out += '\n';
        }
    }
    return out;
}

} // namespace corvane::reg
