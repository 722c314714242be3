// The JSON writer: strings escaped whatever bytes they hold, commas and nesting, numbers at
// their limits, and the time stamps of the report.
#include "report/json_writer.h"
#include "shell/json_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

using namespace corvane;

namespace {

std::string asJson(std::string_view bytes) {
    std::string out;
    appendJsonString(out, bytes);
    return out;
}

// What a strict JSON reader makes of the string: its text, or a note that it refused it.
QString readBack(const std::string& json) {
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString("[" + json + "]"), &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("<refused: %1>").arg(error.errorString());
    return doc.array().at(0).toString();
}

TEST(JsonString, PlainTextAndTheTwoEscapesOfJson) {
    EXPECT_EQ(asJson(""), "\"\"");
    EXPECT_EQ(asJson("eth0 - Intel(R) 82574L"), "\"eth0 - Intel(R) 82574L\"");
    EXPECT_EQ(asJson("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
}

TEST(JsonString, EveryControlCharacterIsEscaped) {
    EXPECT_EQ(asJson("\b\f\n\r\t"), "\"\\b\\f\\n\\r\\t\"");
    EXPECT_EQ(asJson(std::string_view("\0\x01\x1b\x1f\x7f", 5)),
              "\"\\u0000\\u0001\\u001b\\u001f\\u007f\"");
    // C1 controls and the line and paragraph separators, which some readers break lines at.
    EXPECT_EQ(asJson("\xC2\x80\xC2\x9B\xC2\x9F"), "\"\\u0080\\u009b\\u009f\"");
    EXPECT_EQ(asJson("\xE2\x80\xA8\xE2\x80\xA9"), "\"\\u2028\\u2029\"");
    for (int c = 0; c < 0x20; ++c) {
        const std::string s(1, static_cast<char>(c));
        const std::string q = asJson(s);
        EXPECT_EQ(q.find_first_of(std::string_view("\0\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a"
                                                   "\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14"
                                                   "\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f",
                                                   32)),
                  std::string::npos)
            << c;
        EXPECT_EQ(readBack(q), QString(QChar(c))) << c;
    }
}

TEST(JsonString, ValidUtf8IsKeptAsItIs) {
    for (const char* s :
         {"Gr\xC3\xBC\xC3\x9F"
          "e",
          "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80", "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF",
          "\xE2\x80\xAE"
          "bidi"}) {
        EXPECT_EQ(asJson(s), std::string("\"") + s + "\"") << s;
        EXPECT_EQ(readBack(asJson(s)), QString::fromUtf8(s)) << s;
    }
}

TEST(JsonString, BytesThatAreNoUtf8BecomeReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string_view in;
        std::string out;
    } cases[] = {
        {"\xFF", fffd}, // never a lead byte
        {"\x80"
         "a",
         fffd + "a"},   // a stray continuation
        {"\xC3", fffd}, // cut short at the end
        {"\xC3"
         "a",
         fffd + "a"},                                    // cut short by another character
        {"\xE6\x97", fffd + fffd},                       // a three-byte sequence cut short
        {"\xC0\xAF", fffd + fffd},                       // overlong '/'
        {"\xE0\x80\xAF", fffd + fffd + fffd},            // overlong, three bytes
        {"\xED\xA0\x80", fffd + fffd + fffd},            // a surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd}, // beyond U+10FFFF
        {"\xF8\x88\x80\x80\x80", fffd + fffd + fffd + fffd + fffd},
        // A byte that would swallow the closing quote or an escape does not.
        {"\xC3\"", fffd + "\\\""},
        {"\xE2\x80\\", fffd + fffd + "\\\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(asJson(c.in), "\"" + c.out + "\"") << testing::PrintToString(std::string(c.in));
        EXPECT_FALSE(readBack(asJson(c.in)).startsWith(QLatin1String("<refused")));
    }
}

TEST(JsonWriter, CommasAndNesting) {
    std::string out;
    JsonWriter w(out);
    EXPECT_FALSE(w.complete());
    w.beginObject().field("a", 1).key("b").beginArray();
    w.beginObject().endObject().beginArray().endArray().string("x").null();
    w.endArray().field("c", true).nullField("d").key("e").beginObject().field("f", "g");
    w.endObject().endObject();
    EXPECT_EQ(out, R"({"a":1,"b":[{},[],"x",null],"c":true,"d":null,"e":{"f":"g"}})");
    EXPECT_TRUE(w.complete());
}

// A streamed text is the same text, handed on only where an object ends, and nothing is
// left behind once flushed.
TEST(JsonWriter, SpillsWholeObjectsAndLosesNothing) {
    const auto write = [](JsonWriter& w) {
        w.beginObject().key("rows").beginArray();
        for (int i = 0; i < 50; ++i)
            w.beginObject().field("i", i).field("name", "r\x01w").endObject();
        w.endArray().field("end", true).endObject();
    };
    std::string whole;
    JsonWriter plain(whole);
    write(plain);

    std::string buffer;
    std::vector<std::string> pieces;
    JsonWriter streamed(buffer);
    streamed.spillTo([&](std::string_view p) { pieces.emplace_back(p); }, 64);
    write(streamed);
    streamed.flush();
    EXPECT_TRUE(buffer.empty());
    ASSERT_GT(pieces.size(), 5U);
    std::string joined;
    for (const std::string& p : pieces) {
        joined += p;
        if (&p != &pieces.back()) {
            EXPECT_EQ(p.back(), '}') << p;
        }
    }
    EXPECT_EQ(joined, whole);
    EXPECT_TRUE(streamed.complete());
}

TEST(JsonWriter, NumbersAtTheirLimits) {
    std::string out;
    JsonWriter w(out);
    w.beginArray()
        .number(std::numeric_limits<std::uint64_t>::max())
        .number(std::numeric_limits<std::int64_t>::min())
        .number(std::uint32_t{4294967295U})
        .number(0)
        .number(-1)
        .endArray();
    EXPECT_EQ(out, "[18446744073709551615,-9223372036854775808,4294967295,0,-1]");
}

TEST(JsonReportTime, Iso8601WithTheZoneOffset) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(isoTime(0), "1970-01-01T00:00:00+00:00");
    setenv("TZ", "Asia/Kolkata", 1); // a zone half an hour off the hour
    tzset();
    EXPECT_EQ(isoTime(1800000000), "2027-01-15T13:30:00+05:30");
    setenv("TZ", "America/St_Johns", 1);
    tzset();
    EXPECT_EQ(isoTime(1800000000), "2027-01-15T04:30:00-03:30");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace

// Rows written apart, by other writers, and handed on as runs of elements: the same text as
// one writer gives, empty runs included, wherever they fall.
TEST(JsonWriter, ArrayPartsJoinAsOneArray) {
    const auto row = [](JsonWriter& w, int i) {
        w.beginObject().field("n", i).key("list").beginArray().number(i).endArray().endObject();
    };
    std::string whole;
    JsonWriter one(whole);
    one.beginObject().key("rows").beginArray();
    for (int i = 0; i < 5; ++i)
        row(one, i);
    one.endArray().endObject();

    // Without a spill; streamed with runs smaller and bigger than a piece, which go on as
    // they are, in their place.
    for (const std::size_t threshold : {std::size_t{0}, std::size_t{30}}) {
        std::string held, streamed;
        JsonWriter w(held);
        if (threshold != 0)
            w.spillTo([&](std::string_view p) { streamed += p; }, threshold);
        w.beginObject().key("rows").beginArray();
        for (const std::vector<int>& run :
             std::vector<std::vector<int>>{{}, {0, 1}, {}, {2}, {3, 4}}) {
            std::string part;
            JsonWriter p(part, JsonWriter::ArrayPart{});
            for (const int i : run)
                row(p, i);
            w.elements(part);
        }
        w.endArray().endObject();
        w.flush();
        EXPECT_EQ(held + streamed, whole) << threshold;
        EXPECT_TRUE(w.complete());
    }
}
