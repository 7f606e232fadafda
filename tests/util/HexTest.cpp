#include "util/Hex.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(BytesToHex, UpperCaseInMemoryOrder) {
    unsigned char bytes[] = {0x0A, 0xFF};
    EXPECT_EQ(bytesToHex(bytes, 2), "0AFF");
    EXPECT_EQ(bytesToHex(bytes, 0), "");
}

TEST(HexToBytes, PairsFromTheEndIntoTheBuffer) {
    unsigned char two[2];
    hexToBytes("ABC", two, 2);
    EXPECT_EQ(two[0], 0x0A);
    EXPECT_EQ(two[1], 0xBC);
    unsigned char one[1];
    hexToBytes("ABC", one, 1);
    EXPECT_EQ(one[0], 0xBC);
    unsigned char four[4] = {1, 2, 3, 4};
    hexToBytes("0AFF", four, 4);
    EXPECT_EQ(four[0], 0x0A);
    EXPECT_EQ(four[1], 0xFF);
    EXPECT_EQ(four[2], 0);
    EXPECT_EQ(four[3], 0);
    hexToBytes("", four, 4);
    EXPECT_EQ(four[0], 0);
}

TEST(HexToBytes, DoubleRoundTripIsBitIdentical) {
    const double values[] = {0.0, -0.0, 1.0 / 3.0, -123.456e300, 5e-324};
    for (double value : values) {
        std::string text = bytesToHex(&value, sizeof value);
        ASSERT_EQ(text.size(), 16u);
        double back = 1;
        hexToBytes(text, &back, sizeof back);
        EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
    }
    double one = 1.0;
    EXPECT_EQ(bytesToHex(&one, sizeof one), "000000000000F03F"); // little-endian
}
