#include "table_names.h"

#include "buffers.h"
#include "foreign_file.h"
#include "guard.h"
#include "iphlpapi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <vector>

namespace corvane::sys {
namespace {

bool number(std::string_view s, uint32_t& out) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.size() > 10)
        return false;
    uint64_t v = 0;
    for (const char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFull)
            return false;
    }
    out = static_cast<uint32_t>(v);
    return true;
}

bool goodName(std::string_view s) {
    return !s.empty() && s.size() < CORVANE_TABLE_NAME_SIZE &&
           std::all_of(s.begin(), s.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

// The next blank-separated word of s, consumed.
std::string_view word(std::string_view& s) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    size_t j = i;
    while (j < s.size() && !isBlank(s[j]))
        ++j;
    const std::string_view w = s.substr(i, j - i);
    s.remove_prefix(j);
    return w;
}

void readInto(const std::string& path, TableNames& names) {
    if (const auto file = readForeignFile(path, kTableNameFileCap))
        parseTableNames(file->content, names);
}

} // namespace

void parseTableNames(std::string_view text, TableNames& names) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        line = line.substr(0, line.find('#'));
        const std::string_view id = word(line);
        const std::string_view name = word(line);
        uint32_t n = 0;
        if (id.empty() || !word(line).empty() || !number(id, n) || !goodName(name))
            continue;
        names.emplace(n, std::string(name));
    }
}

TableNames readTableNames(const std::string& dir) {
    TableNames names;
    readInto(dir + "/rt_tables", names);
    const std::string sub = dir + "/rt_tables.d";
    if (DIR* d = ::opendir(sub.c_str())) {
        std::vector<std::string> files;
        while (const dirent* e = ::readdir(d)) {
            const std::string_view n = e->d_name;
            if (n.size() > 5 && n.substr(n.size() - 5) == ".conf" && n.front() != '.')
                files.emplace_back(n);
        }
        ::closedir(d);
        std::sort(files.begin(), files.end());
        if (files.size() > kMaxTableNameFiles)
            files.resize(kMaxTableNameFiles);
        for (const std::string& f : files) {
            std::string path = sub;
            path += '/';
            path += f;
            readInto(path, names);
        }
    }
    names.emplace(CORVANE_TABLE_LOCAL, "local");
    names.emplace(CORVANE_TABLE_MAIN, "main");
    names.emplace(CORVANE_TABLE_DEFAULT, "default");
    return names;
}

std::string tableNamesDir() {
    const char* v = std::getenv("CORVANE_RT_TABLES_DIR");
    return v && *v ? v : "/etc/iproute2";
}

} // namespace corvane::sys

using namespace corvane::sys;

extern "C" {

DWORD CorvaneGetRouteTableNames(CORVANE_TABLE_NAME_TABLE** table) {
    return guarded([&]() -> DWORD {
        if (!table)
            return ERROR_INVALID_PARAMETER;
        *table = nullptr;
        const TableNames names = readTableNames(tableNamesDir());
        const size_t bytes = offsetof(CORVANE_TABLE_NAME_TABLE, Table) +
                             names.size() * sizeof(CORVANE_TABLE_NAME_ROW);
        auto* t = static_cast<CORVANE_TABLE_NAME_TABLE*>(
            std::malloc(std::max(bytes, sizeof(CORVANE_TABLE_NAME_TABLE))));
        if (!t)
            return ERROR_NOT_ENOUGH_MEMORY;
        std::memset(static_cast<void*>(t), 0, std::max(bytes, sizeof(CORVANE_TABLE_NAME_TABLE)));
        t->NumEntries = static_cast<ULONG>(names.size());
        size_t i = 0;
        for (const auto& [id, name] : names) {
            t->Table[i].Id = id;
            // Shorter than the field, which the memset left zeroed.
            name.copy(t->Table[i].Name, sizeof t->Table[i].Name - 1);
            ++i;
        }
        *table = t;
        return NO_ERROR;
    });
}
}
