// Rows kept in blocks of a fixed size rather than in one growing array: a table read
// without knowing its size first never holds an old copy of itself beside a new one while
// it grows, and once cleared it keeps its blocks for the next read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

namespace corvane::sys {

template <typename T, size_t kBlock = 2048> class BlockRows {
    static_assert(std::is_trivially_copyable_v<T>, "rows are copied as bytes");

public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // A new row, zeroed.
    T& emplace_back() {
        if (size_ == blocks_.size() * kBlock)
            blocks_.push_back(std::make_unique_for_overwrite<T[]>(kBlock));
        T& row = (*this)[size_++];
        row = T{};
        return row;
    }
    void push_back(const T& row) { emplace_back() = row; }

    T& operator[](size_t i) { return blocks_[i / kBlock][i % kBlock]; }
    const T& operator[](size_t i) const { return blocks_[i / kBlock][i % kBlock]; }

    // Empty, with the blocks kept.
    void clear() { size_ = 0; }

    // The rows in order as runs of contiguous ones: f(const T* first, size_t count).
    template <typename F> void forEachRun(F f) const {
        for (size_t b = 0, left = size_; left > 0; ++b) {
            const size_t n = std::min(left, kBlock);
            f(blocks_[b].get(), n);
            left -= n;
        }
    }

private:
    std::vector<std::unique_ptr<T[]>> blocks_;
    size_t size_ = 0;
};

} // namespace corvane::sys
