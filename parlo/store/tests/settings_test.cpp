#include "parlo/store/settings.h"

#include <gtest/gtest.h>

#include "parlo/store/tests/test_util.h"
#include "platform/registry.h"

namespace parlo {
namespace {

using testing::Bytes;

class SettingsTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    platform::Registry reg{dir / "registry.reg"};

    // A full vok.ini in the order of its table, every field distinct.
    static Bytes FullIni() {
        Bytes b;
        b.U8(9)
            .Str(u"Nokia 6310i")
            .Str(u"Vodafone D2")
            .Str(u"four")
            .Str(u"five")
            .Str(u"six")
            .Str(u"IrDA")
            .Str(u"eight")
            .Str(u"nine")
            .I32(10)
            .Str(u"eleven")
            .I32(1)
            .I32(25)
            .I32(1)
            .Str(u"+491722270333")
            .I32(16)
            .I32(17)
            .I32(18)
            .I32(19)
            .I32(1)
            .Str(u"ignored reserved")
            .I32(3)
            .Str(u"k1")
            .Str(u"v1")
            .Str(u"k2")
            .Str(u"v2")
            .Str(u"k1")
            .Str(u"v3");
        return b;
    }
};

TEST_F(SettingsTest, HandBuiltIniLoadsEveryField) {
    testing::WriteFile(dir / "vok.ini", FullIni().data);
    reg.SetString(platform::Hive::CurrentUser, kProfileDataKey, "userport", "COM5:");
    CSettings s;
    ASSERT_TRUE(LoadSettings(dir.path(), reg, &s));
    EXPECT_EQ(s.m_strPhoneModel, u"Nokia 6310i");
    EXPECT_EQ(s.m_strProvider, u"Vodafone D2");
    EXPECT_EQ(s.m_strKept4, u"four");
    EXPECT_EQ(s.m_strKept5, u"five");
    EXPECT_EQ(s.m_strKept6, u"six");
    EXPECT_EQ(s.m_strConnection, u"IrDA");
    EXPECT_EQ(s.m_strKept8, u"eight");
    EXPECT_EQ(s.m_strKept9, u"nine");
    EXPECT_EQ(s.m_nKept10, 10);
    EXPECT_EQ(s.m_strKept11, u"eleven");
    EXPECT_EQ(s.m_bAutoSync, 1);
    EXPECT_EQ(s.m_nAutoSyncInterval, 25);
    EXPECT_EQ(s.m_bOwnSmsCentre, 1);
    EXPECT_EQ(s.m_strSmsCentre, u"+491722270333");
    EXPECT_EQ(s.m_nKept16, 16);
    EXPECT_EQ(s.m_nKept17, 17);
    EXPECT_EQ(s.m_nKept18, 18);
    EXPECT_EQ(s.m_nKept19, 19);
    EXPECT_EQ(s.m_bDeleteAfterSync, 1);
    ASSERT_EQ(s.m_pairs.size(), 2u);
    EXPECT_EQ(s.m_pairs[u"k1"], u"v3");  // the later pair wins
    EXPECT_EQ(s.m_pairs[u"k2"], u"v2");
    EXPECT_EQ(s.m_bUsePort, 1);
    EXPECT_EQ(s.m_strUserPort, u"COM5:");
    EXPECT_EQ(s.m_nPhonebookFlags, PB_BOTH);
    EXPECT_EQ(s.m_strPhoneIdentity, u"0");
}

TEST_F(SettingsTest, SavedSettingsReadBackEqual) {
    CSettings s;
    s.m_strPhoneModel = u"Siemens S45";
    s.m_strKept5 = u"kept";
    s.m_nKept18 = 77;
    s.m_bAutoSync = 1;
    s.m_nAutoSyncInterval = 99999;
    s.m_strSmsCentre = u"+41794999000";
    s.m_bDeleteAfterSync = 1;
    s.m_pairs[u"a"] = u"b";
    s.m_pairs[u"\u00fc"] = std::u16string(500, u'z');
    s.m_bUsePort = 1;
    s.m_strUserPort = u"COM7:";
    s.m_nPhonebookFlags = PB_SIM;
    s.m_strPhoneIdentity = u"35123456789";
    s.m_bConcatenated = 1;
    ASSERT_TRUE(SaveSettings(dir.path(), reg, s));
    CSettings back;
    ASSERT_TRUE(LoadSettings(dir.path(), reg, &back));
    ASSERT_TRUE(LoadPhonebookSettings(dir.path(), &back));
    EXPECT_EQ(back, s);

    // "Use port" off stores an empty userport and reads back off.
    s.m_bUsePort = 0;
    ASSERT_TRUE(SaveSettings(dir.path(), reg, s));
    ASSERT_TRUE(LoadSettings(dir.path(), reg, &back));
    EXPECT_EQ(back.m_bUsePort, 0);
    EXPECT_TRUE(back.m_strUserPort.empty());
}

TEST_F(SettingsTest, ConcatenatedSendingLivesInTheProfileNotInVokIni) {
    CSettings s;
    ASSERT_TRUE(SaveSettings(dir.path(), reg, s));
    std::string plain = testing::ReadFile(dir / "vok.ini");
    s.m_bConcatenated = 1;
    ASSERT_TRUE(SaveSettings(dir.path(), reg, s));
    EXPECT_EQ(testing::ReadFile(dir / "vok.ini"), plain);
    EXPECT_EQ(reg.QueryDword(platform::Hive::CurrentUser, kProfileDataKey, "concat"), 1u);
    // An absent vok.ini gives its defaults, not those of the profile.
    std::filesystem::remove(dir / "vok.ini");
    CSettings back;
    ASSERT_TRUE(LoadSettings(dir.path(), reg, &back));
    EXPECT_EQ(back.m_bConcatenated, 1);
    s.m_bConcatenated = 0;
    ASSERT_TRUE(SaveSettings(dir.path(), reg, s));
    ASSERT_TRUE(LoadSettings(dir.path(), reg, &back));
    EXPECT_EQ(back.m_bConcatenated, 0);
}

TEST_F(SettingsTest, AbsentOrForeignFileGivesDefaults) {
    CSettings s;
    s.m_bAutoSync = 1;
    s.m_nAutoSyncInterval = 3;
    s.m_strKept4 = u"stays";
    EXPECT_TRUE(LoadSettings(dir.path(), reg, &s));
    EXPECT_EQ(s.m_bAutoSync, 0);
    EXPECT_EQ(s.m_nAutoSyncInterval, 10);
    EXPECT_EQ(s.m_nKept18, 150);
    EXPECT_EQ(s.m_strKept4, u"stays");

    for (char first : {'\0', '\x08', 'A', '\xff'}) {
        std::string data = FullIni().data;
        data[0] = first;
        testing::WriteFile(dir / "vok.ini", data);
        CSettings f;
        f.m_bAutoSync = 1;
        EXPECT_TRUE(LoadSettings(dir.path(), reg, &f));
        EXPECT_EQ(f.m_bAutoSync, 0);
        EXPECT_EQ(f.m_nAutoSyncInterval, 10);
    }
    testing::WriteFile(dir / "vok.ini", "");
    EXPECT_FALSE(LoadSettings(dir.path(), reg, &s));
}

TEST_F(SettingsTest, StringLimitIs500Units) {
    Bytes ok;
    ok.U8(9).Str(std::u16string(500, u'a')).Str(u"prov");
    testing::WriteFile(dir / "vok.ini", ok.data);
    CSettings s;
    EXPECT_FALSE(LoadSettings(dir.path(), reg, &s));  // torn after field 3
    EXPECT_EQ(s.m_strPhoneModel.size(), 500u);
    EXPECT_EQ(s.m_strProvider, u"prov");

    Bytes bad;
    bad.U8(9).Str(std::u16string(501, u'a'));
    testing::WriteFile(dir / "vok.ini", bad.data);
    CSettings t;
    t.m_strPhoneModel = u"before";
    EXPECT_FALSE(LoadSettings(dir.path(), reg, &t));
    EXPECT_EQ(t.m_strPhoneModel, u"before");

    Bytes noterm;
    noterm.U8(9).RawStr(3, u"abc", u'x');
    testing::WriteFile(dir / "vok.ini", noterm.data);
    EXPECT_FALSE(LoadSettings(dir.path(), reg, &t));
    EXPECT_EQ(t.m_strPhoneModel, u"before");

    // The terminating unit is zero in both bytes, not only in the low one.
    Bytes highterm;
    highterm.U8(9).RawStr(3, u"abc", char16_t{0x0100});
    testing::WriteFile(dir / "vok.ini", highterm.data);
    EXPECT_FALSE(LoadSettings(dir.path(), reg, &t));
    EXPECT_EQ(t.m_strPhoneModel, u"before");
}

// Whatever the user typed, the saved vok.ini reads back at the next start.
TEST_F(SettingsTest, OverlongStringsAreSavedSoTheFileLoadsBack) {
    CSettings s;
    s.m_strPhoneModel = std::u16string(501, u'a');
    s.m_strSmsCentre = std::u16string(700, u'1');
    s.m_pairs[u"k"] = std::u16string(501, u'v');
    ASSERT_TRUE(SaveSettings(dir.path(), reg, s));
    CSettings back;
    ASSERT_TRUE(LoadSettings(dir.path(), reg, &back));
    EXPECT_EQ(back.m_strPhoneModel, std::u16string(500, u'a'));
    EXPECT_EQ(back.m_strSmsCentre, std::u16string(500, u'1'));
    EXPECT_EQ(back.m_pairs[u"k"], std::u16string(500, u'v'));
}

TEST_F(SettingsTest, TornFileKeepsWhatWasReadBeforeTheTear) {
    const std::string full = FullIni().data;
    reg.SetString(platform::Hive::CurrentUser, kProfileDataKey, "userport", "COM9:");
    for (size_t cut = 1; cut < full.size(); ++cut) {
        testing::WriteFile(dir / "vok.ini", full.substr(0, cut));
        CSettings s;
        s.m_nKept19 = -5;
        EXPECT_FALSE(LoadSettings(dir.path(), reg, &s)) << cut;
        EXPECT_EQ(s.m_strUserPort, u"") << "userport is read only after a complete read";
        if (cut > 30) {
            EXPECT_EQ(s.m_strPhoneModel, u"Nokia 6310i");
        }
        if (cut < full.size() - 120) {
            EXPECT_EQ(s.m_nKept19, -5);
        }
    }
}

TEST_F(SettingsTest, PhonebookSettings) {
    CSettings s;
    s.m_nPhonebookFlags = PB_SIM;
    EXPECT_FALSE(LoadPhonebookSettings(dir.path(), &s));
    EXPECT_EQ(s.m_nPhonebookFlags, PB_SIM);  // no file: what the caller had stays
    Bytes b;
    b.I32(0x20000000).Str(u"ident");
    testing::WriteFile(dir / "pb.ini", b.data);
    EXPECT_TRUE(LoadPhonebookSettings(dir.path(), &s));
    EXPECT_EQ(s.m_nPhonebookFlags, PB_PHONE);
    EXPECT_EQ(s.m_strPhoneIdentity, u"ident");
    Bytes bad;
    bad.I32(0x10000000).RawStr(600, u"", 0);
    testing::WriteFile(dir / "pb.ini", bad.data);
    CSettings t;
    EXPECT_TRUE(LoadPhonebookSettings(dir.path(), &t));
    EXPECT_EQ(t.m_nPhonebookFlags, PB_SIM);
    EXPECT_EQ(t.m_strPhoneIdentity, u"0");
}

}  // namespace
}  // namespace parlo
