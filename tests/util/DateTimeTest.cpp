#include "util/DateTime.h"

#include <gtest/gtest.h>

namespace {
DateTime make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    DateTime value = 0;
    EXPECT_TRUE(tryEncodeDateTime({y, mo, d, h, mi, s, 0}, value));
    return value;
}
} // namespace

TEST(DateTime, DayZeroIsTheEndOf1899) {
    EXPECT_DOUBLE_EQ(make(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(make(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(make(2005, 3, 5, 12), 38416.5);
    DateTimeParts p = decodeDateTime(make(2005, 3, 5, 14, 7, 9));
    EXPECT_EQ(p.year, 2005);
    EXPECT_EQ(p.month, 3);
    EXPECT_EQ(p.day, 5);
    EXPECT_EQ(p.hour, 14);
    EXPECT_EQ(p.minute, 7);
    EXPECT_EQ(p.second, 9);
}

TEST(DateTime, ImpossibleDatesAreRefused) {
    DateTime value = 0;
    EXPECT_FALSE(tryEncodeDateTime({2005, 13, 1, 0, 0, 0, 0}, value));
    EXPECT_FALSE(tryEncodeDateTime({2005, 2, 29, 0, 0, 0, 0}, value));
    EXPECT_TRUE(tryEncodeDateTime({2004, 2, 29, 0, 0, 0, 0}, value));
    EXPECT_FALSE(tryEncodeDateTime({2005, 1, 1, 24, 0, 0, 0}, value));
}

TEST(TimeStamp, FormatAndParseRoundTrip) {
    DateTime t = make(2005, 3, 5, 14, 7, 9);
    EXPECT_EQ(formatTimeStamp(t), "20050305140709");
    EXPECT_DOUBLE_EQ(parseTimeStamp("20050305140709", 0), t);
    EXPECT_EQ(formatTimeStamp(0), "18991230000000");
}

TEST(TimeStamp, MissingPartsTakeTheirDefaults) {
    EXPECT_DOUBLE_EQ(parseTimeStamp("2005", make(1999, 7, 7, 7)), make(2005, 1, 1));
    EXPECT_DOUBLE_EQ(parseTimeStamp("", 42.5), 42.5);
    EXPECT_DOUBLE_EQ(parseTimeStamp("xxxx0607", make(2010, 1, 1)), make(2010, 6, 7));
    EXPECT_DOUBLE_EQ(parseTimeStamp("200503051", 0), make(2005, 3, 5, 1));
}

TEST(TimeStamp, ImpossibleStampReadsAsTheDefault) {
    EXPECT_DOUBLE_EQ(parseTimeStamp("20051301000000", 7.25), 7.25);
    EXPECT_DOUBLE_EQ(parseTimeStamp("20050230000000", 7.25), 7.25);
    EXPECT_DOUBLE_EQ(parseTimeStamp("20050101250000", 7.25), 7.25);
}

TEST(FileTime, SplitWithoutTimeZoneAndMillisecondsDropped) {
    // 2005-03-05 14:07:09.999 UTC as ticks since 1601.
    FILETIME ft = fileTimeFromUnix(1110031629, 999000000);
    EXPECT_EQ(formatTimeStamp(fileTimeToDateTime(ft)), "20050305140709");
    EXPECT_DOUBLE_EQ(fileTimeToDateTime(ft), make(2005, 3, 5, 14, 7, 9));
    EXPECT_EQ(fileTimeTicks(dateTimeToFileTime(make(2005, 3, 5, 14, 7, 9))),
              fileTimeTicks(fileTimeFromUnix(1110031629)));
    EXPECT_EQ(formatTimeStamp(fileTimeToDateTime(FILETIME{})), "16010101000000");
}

TEST(DateTime, DateAndTimeOfDaySplit) {
    DateTime t = make(2020, 2, 29, 18);
    EXPECT_DOUBLE_EQ(dateOf(t), make(2020, 2, 29));
    EXPECT_DOUBLE_EQ(timeOf(t), 0.75);
    EXPECT_GT(nowLocal(), make(2020, 1, 1));
}
