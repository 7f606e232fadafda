#include "core/Net.h"

#include "CoreTestSupport.h"
#include "util/DateTime.h"
#include "platform/profile/Loc.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>

namespace {

DateTime dateTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    DateTime value = 0;
    EXPECT_TRUE(tryEncodeDateTime({y, mo, d, h, mi, s, 0}, value));
    return value;
}

// The settings section of a hand-edited file.
void writeSettings(const CoreTestFolder& dir, const std::string& lines) {
    writeFile(dir.netFile(), "[settings]\n" + lines);
}

TEST(Settings, DefaultsWhenTheFileIsMissing) {
    CoreTestFolder dir;
    Net net(dir.netFile(), nullptr);
    DateTime before = nowLocal();
    EXPECT_EQ(net.getJobVariant(), 1);
    EXPECT_EQ(net.getStoreMail(), 1);
    EXPECT_EQ(net.getEnabled(), 1);
    EXPECT_EQ(net.getEnabledPeriod(), 0);
    EXPECT_EQ(net.getThreshold(), 80.0);
    EXPECT_EQ(net.getFrom(), "");
    DateTime from = net.getPeriodFrom();
    DateTime to = net.getPeriodTo();
    DateTime after = nowLocal();
    EXPECT_GE(from, before);
    EXPECT_LE(from, after);
    EXPECT_GE(to, before);
    EXPECT_LE(to, after);
    // Without a store the output folder cannot be looked up.
    EXPECT_EQ(net.getDestFolder(), "");
}

TEST(Settings, SettersWriteTheStoredFormsAtOnce) {
    CoreTestFolder dir;
    Net net(dir.netFile(), nullptr);
    EXPECT_TRUE(net.setJobVariant(3));
    EXPECT_TRUE(net.setStoreMail(0));
    EXPECT_TRUE(net.setEnabled(0));
    EXPECT_TRUE(net.setEnabledPeriod(1));
    EXPECT_TRUE(net.setPeriodFrom(dateTime(2005, 8, 23, 8, 32)));
    EXPECT_TRUE(net.setPeriodTo(dateTime(2005, 3, 5, 14, 7, 9)));
    EXPECT_TRUE(net.setThreshold(80));
    EXPECT_TRUE(net.setFrom("me@example.org"));
    EXPECT_TRUE(net.setDestFolder("17"));
    EXPECT_EQ(readFile(dir.netFile()), "[settings]\n"
                                       "jobvariant=_3_\n"
                                       "storemail=_0_\n"
                                       "enabled=_0_\n"
                                       "enabled.period=_1_\n"
                                       "enabled.period.from=_20050823083200_\n"
                                       "enabled.period.to=_20050305140709_\n"
                                       "threshold=_80.000000_\n"
                                       "from=_me@example.org_\n"
                                       "destFolder=_17_\n");
    Net other(dir.netFile(), nullptr);
    EXPECT_EQ(other.getJobVariant(), 3);
    EXPECT_EQ(other.getStoreMail(), 0);
    EXPECT_EQ(other.getEnabled(), 0);
    EXPECT_EQ(other.getEnabledPeriod(), 1);
    EXPECT_EQ(other.getPeriodFrom(), dateTime(2005, 8, 23, 8, 32));
    EXPECT_EQ(other.getPeriodTo(), dateTime(2005, 3, 5, 14, 7, 9));
    EXPECT_EQ(other.getThreshold(), 80.0);
    EXPECT_EQ(other.getFrom(), "me@example.org");
    EXPECT_EQ(other.getDestFolder(), "17");
}

struct ThresholdCase {
    const char* name;
    const char* stored;
    double value;
};

void PrintTo(const ThresholdCase& value, std::ostream* out) {
    *out << value.name;
}

class ThresholdText : public testing::TestWithParam<ThresholdCase> {};

TEST_P(ThresholdText, ReadsTheLongestLeadingNumber) {
    CoreTestFolder dir;
    writeSettings(dir, std::string("threshold=") + GetParam().stored + "\n");
    EXPECT_EQ(Net(dir.netFile(), nullptr).getThreshold(), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Settings, ThresholdText,
                         testing::Values(ThresholdCase{"as_written", "_80.000000_", 80.0},
                                         ThresholdCase{"percent_sign", "75%", 75.0},
                                         ThresholdCase{"letters_only", "abc", 80.0},
                                         ThresholdCase{"letters_after", "_75.5xyz_", 75.5},
                                         ThresholdCase{"empty", "__", 80.0},
                                         ThresholdCase{"comma_is_no_decimal", "_62,5_", 62.0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Settings, IntegersMustBeWholeNumbers) {
    CoreTestFolder dir;
    writeSettings(dir, "jobvariant=_2x_\nstoremail=__\nenabled=0\nenabled.period=_ 1_\n");
    Net net(dir.netFile(), nullptr);
    EXPECT_EQ(net.getJobVariant(), 1);
    EXPECT_EQ(net.getStoreMail(), 1);
    EXPECT_EQ(net.getEnabled(), 0);
    EXPECT_EQ(net.getEnabledPeriod(), 0);
}

TEST(Settings, TimeStamps) {
    CoreTestFolder dir;
    writeSettings(dir, "enabled.period.from=_2005_\nenabled.period.to=_20051301000000_\n");
    Net net(dir.netFile(), nullptr);
    EXPECT_EQ(net.getPeriodFrom(), dateTime(2005, 1, 1));
    // Month 13 forms no date: the default (now) applies.
    DateTime before = nowLocal();
    DateTime to = net.getPeriodTo();
    EXPECT_GE(to, before);
    EXPECT_LE(to, nowLocal());
    writeSettings(dir, "enabled.period.from=_200502301200_\nenabled.period.to=__\n");
    before = nowLocal();
    EXPECT_GE(net.getPeriodFrom(), before); // 30 February
    EXPECT_GE(net.getPeriodTo(), before);
}

TEST(Settings, DestFolderDefaultIsTheOutputFolderInsideTheMainFolder) {
    CoreTestFolder dir;
    writeFile(dir.file("strings.ini"), "[en]\noutlookexpress.folder.main=Brevalo\n"
                                       "outlookexpress.folder.output=Sorted\n");
    locOpen(dir.file("strings.ini"));
    Net net(dir.netFile(), StoreMessages::of(dir.store()));
    std::string first = net.getDestFolder();
    locClose();
    STOREFOLDERID main = findOrCreateFolder(dir.store(), FOLDERID_ROOT, "Brevalo", false);
    ASSERT_NE(main, FOLDERID_INVALID);
    STOREFOLDERID sorted = findOrCreateFolder(dir.store(), main, "Sorted", false);
    ASSERT_NE(sorted, FOLDERID_INVALID);
    EXPECT_EQ(first, std::to_string(sorted));
    // Not written back; found again (not created twice) on the next read.
    EXPECT_EQ(readFile(dir.netFile()), "");
    locOpen(dir.file("strings.ini"));
    EXPECT_EQ(net.getDestFolder(), first);
    locClose();
    net.setDestFolder("");
    locOpen(dir.file("strings.ini"));
    EXPECT_EQ(net.getDestFolder(), first);
    locClose();
}

// The values the settings window edits go to the file together and come back together;
// the keys it does not edit stay as they were.
TEST(Settings, TheWindowsValuesAreWrittenTogetherAndReadBack) {
    CoreTestFolder dir;
    writeSettings(dir, "threshold=_55.000000_\nfrom=_old@example.org_\n");
    NetSettings settings(dir.netFile(), nullptr);
    NetSettings::Values values{
        3, 0, 0, 1, dateTime(2005, 8, 23, 8, 32), dateTime(2005, 3, 5, 14, 7, 9), "me@example.org",
        1};
    ASSERT_TRUE(settings.write(values));
    EXPECT_EQ(readFile(dir.netFile()), "[settings]\n"
                                       "threshold=_55.000000_\n"
                                       "from=_me@example.org_\n"
                                       "jobvariant=_3_\n"
                                       "storemail=_0_\n"
                                       "enabled=_0_\n"
                                       "enabled.period=_1_\n"
                                       "enabled.period.from=_20050823083200_\n"
                                       "enabled.period.to=_20050305140709_\n"
                                       "notify.sorted=_1_\n");
    NetSettings::Values back = settings.read();
    EXPECT_EQ(back.jobVariant, 3);
    EXPECT_EQ(back.storeMail, 0);
    EXPECT_EQ(back.enabled, 0);
    EXPECT_EQ(back.enabledPeriod, 1);
    EXPECT_EQ(back.periodFrom, values.periodFrom);
    EXPECT_EQ(back.periodTo, values.periodTo);
    EXPECT_EQ(back.from, "me@example.org");
    EXPECT_EQ(back.notifySorted, 1);
    EXPECT_EQ(settings.getThreshold(), 55.0);
}

} // namespace
