// The pure parsers against tables of inputs and what they must give.
#include <gtest/gtest.h>

#include "addin/numbers.h"
#include "protocol/status_record.h"

namespace {

TEST(Parsers, DecimalsAsA32BitCLibraryReadsThemAndStatusRecords) {
    // taken: the characters StrToU32 consumed (0: no digits).
    const struct { const char* text; std::uint32_t u; int taken; std::int32_t i; } numbers[] = {
        {"0", 0, 1, 0}, {" \t\n42xyz", 42, 5, 42}, {"+17", 17, 3, 17}, {"007 8", 7, 3, 7}, {"-1", 0xFFFFFFFF, 2, -1},
        {"2147483647", 0x7FFFFFFF, 10, INT32_MAX}, {"2147483648", 0x80000000, 10, INT32_MAX},
        {"-2147483648", 0x80000000, 11, INT32_MIN}, {"-2147483649", 0x7FFFFFFF, 11, INT32_MIN},
        {"4294967295", 0xFFFFFFFF, 10, INT32_MAX}, {"4294967296", 0xFFFFFFFF, 10, INT32_MAX},
        {"-4294967296", 0xFFFFFFFF, 11, INT32_MIN}, {"99999999999999999999", 0xFFFFFFFF, 20, INT32_MAX},
        {"", 0, 0, 0}, {"  ", 0, 0, 0}, {"-", 0, 0, 0}, {"+-5", 0, 0, 0}, {"x12", 0, 0, 0}, {"- 3", 0, 0, 0}};
    for (const auto& c : numbers) {
        const char* end = nullptr;
        EXPECT_EQ(StrToU32(c.text, &end), c.u) << c.text;
        EXPECT_EQ(end - c.text, c.taken) << c.text;
        EXPECT_EQ(StrToI32(c.text), c.i) << c.text;
    }
    // The checksum is the sum of the first seven characters, modulo 256.
    const struct { const char* record; bool ok; std::int32_t first, second; } records[] = {
        {"%000000069", true, 0, 0}, {"%000000070", false, 0, 0}, {"%123045084", true, 123, 45},
        {"%123045085", false, 123, 45}, {"%-99-01082", true, -99, -1}, {"%  1   246", true, 1, 0},
        {"%123045 84", true, 123, 45}, {"%999999123\r\n", true, 999, 999}, {"#000000069", false, -1000, -1000},
        {"%001\0\0\0\0\0\0", false, 1, 0}};  // cut short
    for (const auto& c : records) {
        std::int32_t first = -1000, second = -1000;
        EXPECT_EQ(ParseStatusRecord(c.record, &first, &second), c.ok) << c.record;
        EXPECT_EQ(first, c.first) << c.record;
        EXPECT_EQ(second, c.second) << c.record;
    }
}

}  // namespace
