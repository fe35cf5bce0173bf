// Escaping and chunking of console output; no host involved.
#include "console/console_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {
using quorvane::ConsoleChunkLimit;
using quorvane::EscapeForConsole;
using quorvane::NextChunkLength;
using quorvane::ReplaceAll;

std::vector<std::string> Chunks(const std::string& escaped) {
    std::vector<std::string> chunks;
    std::size_t offset = 0;
    while (std::size_t length = NextChunkLength(escaped, offset)) {
        chunks.push_back(escaped.substr(offset, length));
        offset += length;
    }
    EXPECT_EQ(offset, escaped.size());
    return chunks;
}

std::string Unescape(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        plain += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
        }
    }
    return plain;
}

bool PercentOnlyInPairs(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 1 == text.size() || text[i + 1] != '%') {
                return false;
            }
            ++i;
        }
    }
    return true;
}

struct ReplaceCase {
    const char* name;
    std::string subject, search, replacement, expected;
};

class ReplaceAllTest : public testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceAllTest, ReplacesEveryOccurrenceLeftToRight) {
    const ReplaceCase& c = GetParam();
    EXPECT_EQ(ReplaceAll(c.subject, c.search, c.replacement), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceAllTest,
    testing::Values(ReplaceCase{"PercentsDouble", "a%b%%c", "%", "%%", "a%%b%%%%c"},
                    ReplaceCase{"EmptySearchLeavesSubject", "abc", "", "x", "abc"},
                    ReplaceCase{"EmptySubject", "", "a", "b", ""},
                    ReplaceCase{"NoOccurrence", "abc", "x", "yy", "abc"},
                    // The search never looks inside what it just inserted.
                    ReplaceCase{"ReplacementContainsSearch", "aa", "a", "aa", "aaaa"},
                    ReplaceCase{"Shrinks", "xxabxxab", "xx", "", "abab"},
                    ReplaceCase{"OverlappingMatchesTakenLeftmostFirst", "aaa", "aa", "b", "ba"},
                    ReplaceCase{"WholeSubject", "abc", "abc", "", ""},
                    ReplaceCase{"EmbeddedNul", std::string("a\0b", 3), std::string("\0", 1), "%",
                                "a%b"}),
    [](const testing::TestParamInfo<ReplaceCase>& info) { return info.param.name; });

TEST(EscapeForConsole, DoublesEveryPercentAndNothingElse) {
    EXPECT_EQ(EscapeForConsole("100%"), "100%%");
    EXPECT_EQ(EscapeForConsole("%d %s %%"), "%%d %%s %%%%");
    EXPECT_EQ(EscapeForConsole("no percent"), "no percent");
}

struct ChunkCase {
    const char* name;
    std::string text; // as the script gives it
    std::vector<std::size_t> lengths;
};

class ChunkTest : public testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkTest, CutsTheEscapedTextIntoChunksOfAtMostTheLimit) {
    const ChunkCase& c = GetParam();
    std::vector<std::string> chunks = Chunks(EscapeForConsole(c.text));
    std::vector<std::size_t> lengths;
    for (const std::string& chunk : chunks) {
        lengths.push_back(chunk.size());
        EXPECT_TRUE(PercentOnlyInPairs(chunk)) << "chunk " << lengths.size();
    }
    EXPECT_EQ(lengths, c.lengths);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ChunkTest,
    testing::Values(
        ChunkCase{"Empty", "", {}}, ChunkCase{"One", "x", {1}},
        ChunkCase{"Exactly1023", std::string(1023, 'a'), {1023}},
        ChunkCase{"Is1024", std::string(1024, 'a'), {1023, 1}},
        ChunkCase{"Is2500", std::string(2500, 'a'), {1023, 1023, 454}},
        // 30 "%" escape to 60: 1030 characters in all.
        ChunkCase{"PercentsThenLetters", std::string(30, '%') + std::string(970, 'b'), {1023, 7}},
        // The 1023rd character would be the first half of a pair.
        ChunkCase{"PairOnTheLimit", std::string(1022, 'a') + "%" + "tail", {1022, 6}},
        // The pair ends exactly on the limit: no need to shorten.
        ChunkCase{"PairEndsOnTheLimit", std::string(1021, 'a') + "%" + "tail", {1023, 4}},
        ChunkCase{"OnlyPercents", std::string(1000, '%'), {1022, 978}},
        ChunkCase{"OnlyPercentsExactFit", std::string(511, '%'), {1022}}),
    [](const testing::TestParamInfo<ChunkCase>& info) { return info.param.name; });

TEST(Chunks, AnyTextComesBackWholeFromChunksOfWholePairs) {
    std::mt19937 random(20261211);
    const char alphabet[] = {'%', '%', '%', 'a', 'b', ' ', '\n', '\xFF'};
    for (int round = 0; round < 300; ++round) {
        std::size_t length = random() % 5000;
        std::string text;
        // Runs of "%" of random length, so pairs land on every offset.
        while (text.size() < length) {
            char c = alphabet[random() % sizeof alphabet];
            text.append(c == '%' ? random() % 7 + 1 : 1, c);
        }
        std::string escaped = EscapeForConsole(text);
        std::string joined;
        for (const std::string& chunk : Chunks(escaped)) {
            ASSERT_GE(chunk.size(), 1u);
            ASSERT_LE(chunk.size(), ConsoleChunkLimit);
            ASSERT_TRUE(PercentOnlyInPairs(chunk));
            joined += chunk;
        }
        ASSERT_EQ(joined, escaped);
        ASSERT_EQ(Unescape(joined), text);
    }
}

TEST(Chunks, NothingPastTheEnd) {
    EXPECT_EQ(NextChunkLength("abc", 3), 0u);
    EXPECT_EQ(NextChunkLength("abc", 7), 0u);
}

} // namespace
