// A big array formatted on two threads: the same text as one thread writes, whatever the
// spill does with it, and a failure on either side ends in an error or in the whole text,
// never in a hang or a gap.
#include "report/json_threads.h"
#include "report/json_writer.h"

#include <atomic>
#include <cstddef>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

using namespace corvane;

namespace {

constexpr std::size_t kChunk = 2048; // the writer's chunk of elements

void row(JsonWriter& w, std::size_t i) {
    w.beginObject().field("i", static_cast<std::uint64_t>(i)).field("name", "r\x01w").endObject();
}

// The array written by one writer, optionally streamed; "rows" holds count elements.
std::string serial(std::size_t count) {
    std::string out;
    JsonWriter w(out);
    w.beginObject().key("rows").beginArray();
    for (std::size_t i = 0; i < count; ++i)
        row(w, i);
    w.endArray().endObject();
    return out;
}

struct Counted {
    std::size_t rows = 0;
};

// The text the two threads give, with the spill on (threshold) or off (0); write as the
// helper's callback.
template <typename Write>
std::string twoCores(std::size_t count, std::size_t threshold, const Write& write) {
    std::string held, streamed;
    JsonWriter w(held);
    if (threshold != 0)
        w.spillTo([&](std::string_view p) { streamed += p; }, threshold);
    w.beginObject().key("rows").beginArray();
    writeElementsOnTwoCores<Counted>(w, count, write);
    w.endArray().endObject();
    w.flush();
    return streamed + held;
}

} // namespace

TEST(JsonThreads, TheSameTextAsOneWriterAtEverySize) {
    // Empty, fewer chunks than the helper is started for, a last chunk cut short, many chunks.
    for (const std::size_t count :
         {std::size_t{0}, std::size_t{1}, std::size_t{3000}, kChunk * 4, kChunk * 9 + 17}) {
        std::atomic<std::size_t> written{0};
        const auto write = [&](JsonWriter& part, std::size_t first, std::size_t last,
                               Counted& state) {
            for (std::size_t i = first; i < last; ++i)
                row(part, i);
            state.rows += last - first;
            written += last - first;
        };
        const std::string expected = serial(count);
        // Held whole; pieces smaller than a chunk; every chunk handed on as it is.
        for (const std::size_t threshold :
             {std::size_t{0}, std::size_t{1000}, std::size_t{64} << 10}) {
            written = 0;
            EXPECT_EQ(twoCores(count, threshold, write), expected) << count << " " << threshold;
            EXPECT_EQ(written.load(), count);
        }
    }
}

TEST(JsonThreads, AFailedChunkOverThereIsWrittenHere) {
    const std::thread::id here = std::this_thread::get_id();
    const std::size_t count = kChunk * 7;
    bool failedOnce = false;
    const auto write = [&](JsonWriter& part, std::size_t first, std::size_t last, Counted&) {
        if (std::this_thread::get_id() != here && first >= kChunk * 4 && !failedOnce) {
            failedOnce = true; // only the helper gets here
            throw std::bad_alloc();
        }
        for (std::size_t i = first; i < last; ++i)
            row(part, i);
    };
    EXPECT_EQ(twoCores(count, std::size_t{64} << 10, write), serial(count));
    EXPECT_TRUE(failedOnce);
}

TEST(JsonThreads, AFailureHereEndsBothThreadsAndIsThrown) {
    const std::thread::id here = std::this_thread::get_id();
    for (const std::size_t failAt : {std::size_t{0}, kChunk * 4, kChunk * 6}) {
        const auto write = [&](JsonWriter& part, std::size_t first, std::size_t last, Counted&) {
            if (std::this_thread::get_id() == here && first == failAt)
                throw std::runtime_error("full disk");
            for (std::size_t i = first; i < last; ++i)
                row(part, i);
        };
        EXPECT_THROW(twoCores(kChunk * 8, 0, write), std::runtime_error) << failAt;
    }
}

TEST(JsonThreads, BesidesRunsBothAndThrowsWhatEitherThrew) {
    std::atomic<int> ran{0};
    besides([&] { ++ran; }, [&] { ran += 10; });
    EXPECT_EQ(ran.load(), 11);

    ran = 0;
    EXPECT_THROW(besides([&] { ++ran; }, [] { throw std::runtime_error("second"); }),
                 std::runtime_error);
    EXPECT_EQ(ran.load(), 1);

    ran = 0;
    EXPECT_THROW(besides([] { throw std::logic_error("first"); }, [&] { ran += 10; }),
                 std::logic_error);
    EXPECT_EQ(ran.load(), 10); // the other had ended before the failure went on
}
