// Names of routing tables from iproute2's files: "<number> <name>" lines, '#' comments.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace corvane::sys {

inline constexpr size_t kTableNameFileCap = size_t{64} * 1024;
inline constexpr size_t kMaxTableNameFiles = 64;

using TableNames = std::map<uint32_t, std::string>;

// Adds the names of one file's text to names; a number already named keeps its name. Lines
// that are not a number (decimal or 0x hex, up to 2^32 - 1) and one name of printable ASCII
// without blanks, shorter than CORVANE_TABLE_NAME_SIZE, are skipped.
void parseTableNames(std::string_view text, TableNames& names);

// rt_tables in dir, then dir/rt_tables.d/*.conf in name order (at most kMaxTableNameFiles),
// then local, main and default where still unnamed. Links, non-regular files, files others
// may write and files above kTableNameFileCap are skipped.
TableNames readTableNames(const std::string& dir);
// CORVANE_RT_TABLES_DIR, else "/etc/iproute2".
std::string tableNamesDir();

} // namespace corvane::sys
