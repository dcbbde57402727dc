// The %-status record: fields, checksum and what is stored when.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "protocol/status_record.h"

namespace {

TEST(StatusRecord, FieldsAndChecksum) {
    std::int32_t first = -9, second = -9;
    EXPECT_TRUE(ParseStatusRecord("%000000069", &first, &second));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    EXPECT_TRUE(ParseStatusRecord("%001000070", &first, &second));
    EXPECT_EQ(first, 1);
    // 37 + '0'*2 + '5' + '0' + '1' + '2' = 37 + 96 + 53 + 48 + 49 + 50 = 333 -> 77
    EXPECT_TRUE(ParseStatusRecord("%005012077", &first, &second));
    EXPECT_EQ(first, 5);
    EXPECT_EQ(second, 12);
    // Characters after the tenth do not count.
    EXPECT_TRUE(ParseStatusRecord("%000000069\r\n", nullptr, nullptr));
}

TEST(StatusRecord, ABadChecksumStillStoresTheFields) {
    std::int32_t first = -9, second = -9;
    EXPECT_FALSE(ParseStatusRecord("%007003000", &first, &second));
    EXPECT_EQ(first, 7);
    EXPECT_EQ(second, 3);
}

TEST(StatusRecord, NoMarkerWritesNothing) {
    std::int32_t first = -9, second = -9;
    EXPECT_FALSE(ParseStatusRecord("$000000069", &first, &second));
    EXPECT_EQ(first, -9);
    EXPECT_EQ(second, -9);
}

TEST(StatusRecord, FieldsConvertLikeStrtolOnTheirOwn) {
    std::int32_t first = 0, second = 0;
    // Blanks and a sign are accepted; conversion stops at other characters
    // and never runs into the next field.
    ParseStatusRecord("% -1 2x000", &first, &second);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(second, 2);
    ParseStatusRecord("%12345678 ", &first, &second);
    EXPECT_EQ(first, 123);
    EXPECT_EQ(second, 456);
}

TEST(StatusRecord, ChecksumIsTheLowByteOfTheSumEvenWhenTheSumIsNegative) {
    // '%' + 0xFF(-1) + '0'*5 = 37 - 1 + 240 = 276 -> 20.
    EXPECT_TRUE(ParseStatusRecord("%\xFF" "00000020", nullptr, nullptr));
    // '%' + six times 0x80(-128) = 37 - 768 = -731, whose low byte is 37; a
    // remainder (-731 % 256 = -219) would match no three-digit field.
    EXPECT_TRUE(ParseStatusRecord("%\x80\x80\x80\x80\x80\x80" "037", nullptr, nullptr));
    EXPECT_FALSE(ParseStatusRecord("%\x80\x80\x80\x80\x80\x80" "219", nullptr, nullptr));
}

TEST(StatusRecord, RandomRecordsNeverReadPastTenCharacters) {
    std::mt19937 random(12345);
    for (int i = 0; i < 200000; ++i) {
        // Exactly ten bytes in a heap block: AddressSanitizer catches any
        // read beyond them.
        auto record = std::make_unique<char[]>(10);
        for (int c = 0; c < 10; ++c) record[c] = static_cast<char>(random());
        if (i % 2) record[0] = '%';
        std::int32_t first = 0, second = 0;
        bool good = ParseStatusRecord(record.get(), &first, &second);
        if (record[0] != '%') {
            EXPECT_FALSE(good);
        }
        EXPECT_GE(first, -99);
        EXPECT_LE(first, 999);
    }
}

}  // namespace
