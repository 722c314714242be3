// Two threads at work on one JSON report: a big array's elements formatted on both, and two
// reads at the same time.
#pragma once

#include "report/json_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace corvane {

// Elements [0, count) of the open array, written by two threads at once in chunks and handed
// on in their order: the routes and the connections are most of a big report's text, and by
// the time they are written the other core has nothing left to do. The other thread formats
// every second chunk; what it has formatted waits, at most two chunks of it, until it is
// handed on, and its memory is used again for later chunks. write(part, first, last, state)
// writes elements [first, last) into part, with a State of its thread's own. When it throws
// over there, this thread writes the rest; what it throws here is thrown on once the other
// thread has ended.
template <typename State, typename Write>
void writeElementsOnTwoCores(JsonWriter& w, std::size_t count, const Write& write) {
    constexpr std::size_t kChunk = 2048;
    constexpr std::size_t kWaiting = 2;
    const std::size_t chunks = (count + kChunk - 1) / kChunk;
    const auto format = [&](std::size_t chunk, std::string& out, State& state) {
        out.clear();
        JsonWriter part(out, JsonWriter::ArrayPart{});
        write(part, chunk * kChunk, std::min(count, (chunk + 1) * kChunk), state);
    };
    const auto helpers = [](std::size_t chunk) { return chunk % 2 != 0; };
    State cache;
    std::string mine;
    std::mutex lock;
    std::condition_variable turn;
    std::deque<std::pair<std::size_t, std::string>> ready;
    // Texts handed on, whose memory the helper writes its next chunks into: fresh memory for
    // every chunk costs more than formatting it.
    std::vector<std::string> spare;
    bool stop = false, helperFailed = false;
    std::exception_ptr failure;
    std::thread helper;
    if (chunks >= 4) {
        try {
            helper = std::thread([&] {
                try {
                    State own;
                    for (std::size_t c = 0; c < chunks; ++c) {
                        if (!helpers(c))
                            continue;
                        std::string text;
                        {
                            const std::lock_guard guard(lock);
                            if (!spare.empty()) {
                                text = std::move(spare.back());
                                spare.pop_back();
                            }
                        }
                        format(c, text, own);
                        std::unique_lock guard(lock);
                        turn.wait(guard, [&] { return ready.size() < kWaiting || stop; });
                        if (stop)
                            return;
                        ready.emplace_back(c, std::move(text));
                        turn.notify_all();
                    }
                } catch (...) {
                    const std::lock_guard guard(lock);
                    helperFailed = true;
                    turn.notify_all();
                }
            });
        } catch (...) {
            // no thread to be had: every chunk is written here
        }
    }
    try {
        for (std::size_t c = 0; c < chunks; ++c) {
            if (!helper.joinable() || !helpers(c)) {
                format(c, mine, cache);
                w.elements(mine);
                continue;
            }
            std::unique_lock guard(lock);
            // The helper only formats: its chunk always comes, or it fails.
            turn.wait(guard, [&] { return !ready.empty() || helperFailed; });
            if (ready.empty()) { // out of memory over there: the rest is written here
                guard.unlock();
                for (; c < chunks; ++c) {
                    format(c, mine, cache);
                    w.elements(mine);
                }
                break;
            }
            std::string text = std::move(ready.front().second);
            ready.pop_front();
            turn.notify_all();
            guard.unlock();
            w.elements(text);
            guard.lock();
            spare.push_back(std::move(text));
        }
    } catch (...) {
        failure = std::current_exception(); // after the helper has ended, as it must
    }
    if (helper.joinable()) {
        {
            const std::lock_guard guard(lock);
            stop = true;
            turn.notify_all();
        }
        helper.join();
    }
    if (failure)
        std::rethrow_exception(failure);
}

// Runs first() here and second() on a thread of its own at the same time, or after first()
// when no thread is to be had; what second() throws is thrown here once both have ended.
template <typename First, typename Second> void besides(const First& first, const Second& second) {
    std::exception_ptr failure;
    std::thread other;
    try {
        other = std::thread([&] {
            try {
                second();
            } catch (...) {
                failure = std::current_exception();
            }
        });
    } catch (...) {
        // no thread: one after the other
    }
    try {
        first();
    } catch (...) {
        if (other.joinable())
            other.join();
        throw;
    }
    if (other.joinable())
        other.join();
    else
        second();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace corvane
