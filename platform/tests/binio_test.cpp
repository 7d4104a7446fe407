#include "platform/binio.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"

using skyvane::testing::ScopedEnv;
using skyvane::testing::TempDir;

using platform::BinaryReader;
using platform::BinaryWriter;
using platform::ReadStatus;

TEST(RecordString, LayoutIsCountThenUnitsThenZero) {
    BinaryWriter w;
    w.WriteRecordString(u"Hi\u20AC");
    const std::string expected("\x03\x00\x00\x00H\x00i\x00\xAC\x20\x00\x00", 12);
    EXPECT_EQ(w.data(), expected);
}

TEST(RecordString, RoundTripsAtTheLimitAndRefusesOneMore) {
    std::u16string at_limit(1999, u'x');
    BinaryWriter w;
    w.WriteRecordString(at_limit);
    w.WriteRecordString(at_limit + u"y");
    w.WriteInt32(42);
    BinaryReader r(w.data());
    std::u16string s;
    ASSERT_TRUE(r.ReadRecordString(&s, 1999));
    EXPECT_EQ(s, at_limit);
    size_t before = r.position();
    EXPECT_FALSE(r.ReadRecordString(&s, 1999));
    EXPECT_EQ(r.status(), ReadStatus::kTooLong);
    EXPECT_EQ(r.position(), before) << "a refused string leaves the position where it began";
}

TEST(RecordString, EmptyStringStillHasItsTerminator) {
    BinaryWriter w;
    w.WriteRecordString(u"");
    EXPECT_EQ(w.size(), 6u);
    BinaryReader r(w.data());
    std::u16string s = u"junk";
    ASSERT_TRUE(r.ReadRecordString(&s, 10));
    EXPECT_TRUE(s.empty());
    EXPECT_TRUE(r.at_end());
}

TEST(RecordString, TruncatedInputIsAShortReadNeverAnOverrun) {
    BinaryWriter w;
    w.WriteRecordString(u"abcdef");
    const std::string full = w.data();
    // Every cut, including one that drops only the terminating unit.
    for (size_t cut = 0; cut < full.size(); ++cut) {
        std::string part = full.substr(0, cut);
        BinaryReader r(part);
        std::u16string s;
        EXPECT_FALSE(r.ReadRecordString(&s, 100)) << "cut at " << cut;
        EXPECT_EQ(r.status(), ReadStatus::kShort);
    }
}

TEST(RecordString, NegativeAndHugeCountsAreRefused) {
    for (int32_t n : {-1, INT32_MIN, INT32_MAX}) {
        BinaryWriter w;
        w.WriteInt32(n);
        w.WriteInt32(0);
        BinaryReader r(w.data());
        std::u16string s;
        EXPECT_FALSE(r.ReadRecordString(&s, INT32_MAX));
    }
}

TEST(BinaryIo, IntegersAndDoublesAreLittleEndian) {
    BinaryWriter w;
    w.WriteInt32(-2);
    w.WriteDouble(1.5);
    EXPECT_EQ(w.data(), std::string("\xFE\xFF\xFF\xFF\x00\x00\x00\x00\x00\x00\xF8\x3F", 12));
    BinaryReader r(w.data());
    int32_t i;
    double d;
    ASSERT_TRUE(r.ReadInt32(&i));
    ASSERT_TRUE(r.ReadDouble(&d));
    EXPECT_EQ(i, -2);
    EXPECT_EQ(d, 1.5);
    EXPECT_FALSE(r.ReadInt32(&i));
}

TEST(AtomicFile, ReplacesContentAndLeavesNoTemporaryFiles) {
    TempDir dir;
    auto file = dir / "data.bin";
    ASSERT_TRUE(platform::WriteFileAtomic(file, "first"));
    ASSERT_TRUE(platform::WriteFileAtomic(file, std::string("sec\0nd", 6)));
    std::string back;
    ASSERT_TRUE(platform::ReadFileBytes(file, &back));
    EXPECT_EQ(back, std::string("sec\0nd", 6));
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
    EXPECT_FALSE(platform::WriteFileAtomic(dir / "missing/dir/file", "x"));
}
