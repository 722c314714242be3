// The two-call buffer protocol: a caller's buffer too small for the answer gets the size
// needed and ERROR_INSUFFICIENT_BUFFER (tables) or ERROR_BUFFER_OVERFLOW (adapter lists).
#pragma once

#include "corvane_result.h"
#include "corvane_types.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

namespace corvane::sys {

// Copies rows into a table record of the shape { DWORD dwNumEntries; Row table[1]; }; with
// order, the rows at its positions in its order (every position below rows.size()). Rows is
// a std::vector or a BlockRows of Row.
template <typename Table, typename Rows>
DWORD fillTable(Table* table, ULONG* size, const Rows& rows,
                const std::vector<uint32_t>* order = nullptr) {
    using Row = std::remove_cvref_t<decltype(rows[0])>;
    if (!size)
        return ERROR_INVALID_PARAMETER;
    const size_t count = order ? order->size() : rows.size();
    const size_t needed = offsetof(Table, table) + count * sizeof(Row);
    if (needed > std::numeric_limits<ULONG>::max())
        return ERROR_NOT_ENOUGH_MEMORY;
    if (!table || *size < needed) {
        *size = static_cast<ULONG>(needed < sizeof(Table) ? sizeof(Table) : needed);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(count);
    Row* to = &table->table[0];
    if (order) {
        for (const uint32_t at : *order)
            std::memcpy(to++, &rows[at], sizeof(Row));
    } else if constexpr (requires { rows.data(); }) {
        if (!rows.empty())
            std::memcpy(to, rows.data(), rows.size() * sizeof(Row));
    } else {
        rows.forEachRun([&to](const Row* first, size_t n) {
            std::memcpy(to, first, n * sizeof(Row));
            to += n;
        });
    }
    return NO_ERROR;
}

// Lays out linked records (adapter lists) inside the caller's buffer: a first pass with
// no buffer measures, a second places. Pointers always point into the caller's buffer.
class Arena {
public:
    Arena(void* buffer, size_t capacity)
        : base_(static_cast<unsigned char*>(buffer)), capacity_(buffer ? capacity : 0) {}

    // Space for n objects of T, zeroed, or nullptr while measuring / when out of room.
    template <typename T> T* alloc(size_t n = 1) {
        const size_t align = alignof(T);
        used_ = (used_ + align - 1) / align * align;
        const size_t bytes = n * sizeof(T);
        T* p = nullptr;
        if (base_ && used_ + bytes <= capacity_) {
            p = reinterpret_cast<T*>(base_ + used_);
            std::memset(static_cast<void*>(p), 0, bytes);
        }
        used_ += bytes;
        return p;
    }
    size_t used() const { return used_; }
    bool fits() const { return base_ && used_ <= capacity_; }

private:
    unsigned char* base_;
    size_t capacity_;
    size_t used_ = 0;
};

} // namespace corvane::sys
