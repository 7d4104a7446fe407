#include "platform/oledate.h"

#include <gtest/gtest.h>

using platform::OleDate;

TEST(OleDate, KnownDates) {
    // 2002-08-26 19:37:41 is day 37494 plus 70661 seconds.
    OleDate d = OleDate::FromLocal(2002, 8, 26, 19, 37, 41);
    ASSERT_TRUE(d.IsValid());
    EXPECT_NEAR(d.m_dt, 37494 + 70661 / 86400.0, 1e-9);
    EXPECT_EQ(d.Format(), "2002-08-26 19:37:41");
    EXPECT_EQ(OleDate::FromLocal(1899, 12, 30, 0, 0, 0).m_dt, 0.0);
    EXPECT_EQ(OleDate::FromLocal(1900, 1, 1, 0, 0, 0).m_dt, 2.0);
    EXPECT_EQ(OleDate::FromLocal(2000, 3, 1, 12, 0, 0).m_dt, 36586.5);
}

TEST(OleDate, FormatPadsEveryFieldAtTheEndsOfTheRange) {
    EXPECT_EQ(OleDate::FromLocal(100, 1, 1, 0, 0, 0).Format(), "0100-01-01 00:00:00");
    EXPECT_EQ(OleDate::FromLocal(9999, 12, 31, 23, 59, 59).Format(), "9999-12-31 23:59:59");
    EXPECT_EQ(OleDate::FromLocal(1005, 10, 9, 8, 7, 6).Format(), "1005-10-09 08:07:06");
}

TEST(OleDate, BeforeTheEpochTheFractionRunsForward) {
    OleDate d = OleDate::FromLocal(1899, 12, 29, 6, 0, 0);
    EXPECT_DOUBLE_EQ(d.m_dt, -1.25);
    EXPECT_EQ(d.Format(), "1899-12-29 06:00:00");
}

TEST(OleDate, RoundsToTheNearestSecondAcrossMidnight) {
    OleDate d{37494.0 - 0.2 / 86400.0, OleDate::kValid};  // 0.2 s before midnight
    EXPECT_EQ(d.Format(), "2002-08-26 00:00:00");
    OleDate e{37494.0 + 86399.6 / 86400.0, OleDate::kValid};
    EXPECT_EQ(e.Format(), "2002-08-27 00:00:00");
}

TEST(OleDate, InvalidInputsAndStatus) {
    EXPECT_FALSE(OleDate::FromLocal(2003, 2, 29, 0, 0, 0).IsValid());
    EXPECT_TRUE(OleDate::FromLocal(2004, 2, 29, 0, 0, 0).IsValid());
    EXPECT_FALSE(OleDate::FromLocal(2002, 13, 1, 0, 0, 0).IsValid());
    EXPECT_FALSE(OleDate::FromLocal(2002, 1, 1, 24, 0, 0).IsValid());
    EXPECT_FALSE(OleDate::FromLocal(99, 1, 1, 0, 0, 0).IsValid());
    OleDate bad{1e12, OleDate::kValid};
    struct tm tm;
    EXPECT_FALSE(bad.ToLocal(&tm));
    EXPECT_EQ(bad.Format(), "");
    OleDate flagged{37494.0, OleDate::kInvalid};
    EXPECT_EQ(flagged.ToTime(), -1);
}

TEST(OleDate, LocalTimeRoundTrip) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    time_t t = 1030383461;  // 2002-08-26 17:37:41 UTC = 19:37:41 in Berlin (summer time)
    OleDate d = OleDate::FromTime(t);
    EXPECT_EQ(d.Format(), "2002-08-26 19:37:41");
    EXPECT_EQ(d.ToTime(), t);
    struct tm tm;
    ASSERT_TRUE(d.ToLocal(&tm));
    EXPECT_EQ(tm.tm_wday, 1);  // a Monday
    unsetenv("TZ");
    tzset();
}
