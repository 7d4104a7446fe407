#include "parlo/store/device_db.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "parlo/store/tests/test_util.h"
#include "platform/binio.h"
#include "platform/msrand.h"

namespace parlo {
namespace {

std::string PhoneRow(int base) {
    std::string row = "#";
    for (int k = 1; k <= 19; ++k)
        row += std::to_string(base + k) + "#";
    return row + "\r\n";
}

std::string ProviderRow() {
    return "#Net#apn#user#pass#t5#10.1.2.3#1.2.3#OPA#OPB#OPC#OPD#OPE#OPF#+4917#t15#t16##x##y#"
           "\r\n";
}

std::string GoodText() {
    return "*header\r\n" + PhoneRow(0) + PhoneRow(100) + "*providers\r\n" + ProviderRow() +
           ProviderRow() + "*\r\nignored";
}

std::string Check(std::string_view text) {
    std::vector<PhoneModelRecord> phones;
    std::vector<OperatorRecord> ops;
    DeviceDbResult r = ParseDeviceDb(text, &phones, &ops);
    return r.ok ? "ok" : r.check;
}

TEST(DeviceDb, ParsesRowsIntoRecords) {
    std::vector<PhoneModelRecord> phones;
    std::vector<OperatorRecord> ops;
    DeviceDbResult r = ParseDeviceDb(GoodText(), &phones, &ops);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(phones.size(), 2u);
    ASSERT_EQ(ops.size(), 2u);
    const PhoneModelRecord& p = phones[1];
    EXPECT_EQ(p.m_strName, u"101 102");
    EXPECT_EQ(p.m_nBaudRate, 103);
    EXPECT_EQ(p.m_nByteSize, 104);
    EXPECT_EQ(p.m_nParity, 105);
    EXPECT_EQ(p.m_nStopBits, 106);
    EXPECT_EQ(p.m_nFurther, 107);
    EXPECT_EQ(p.m_strText8, u"108");
    EXPECT_EQ(p.m_strText9, u"109");
    EXPECT_EQ(p.m_strTexts[3], u"113");
    EXPECT_EQ(p.m_strManufacturerMatch, u"114");
    EXPECT_EQ(p.m_strModelMatch, u"115");
    EXPECT_EQ(p.m_nStorageSize, 116);
    EXPECT_EQ(p.m_strText17, u"117");
    const OperatorRecord& o = ops[0];
    EXPECT_EQ(o.m_strName, u"Net");
    EXPECT_EQ(o.m_strTexts[0], u"apn");
    EXPECT_EQ(o.m_strTexts[3], u"t5");
    EXPECT_EQ(o.m_address1, (std::array<uint8_t, 4>{10, 1, 2, 3}));
    EXPECT_EQ(o.m_address2, (std::array<uint8_t, 4>{0, 0, 0, 0}));  // only two dots
    EXPECT_EQ(o.m_strOperatorNames[0], u"OPA");
    EXPECT_EQ(o.m_strOperatorNames[5], u"OPF");
    EXPECT_EQ(o.m_strSmsCentre, u"+4917");
    EXPECT_EQ(o.m_strText15, u"t15");
    EXPECT_EQ(o.m_strText16, u"t16");
    EXPECT_EQ(o.m_nFlags, (std::array<int32_t, 4>{1, 0, 1, 1}));
}

TEST(DeviceDb, TextEndsAtTheFirstZeroByteAndAnsiIsConverted) {
    std::string text = GoodText();
    text.insert(text.find("*providers"), std::string("\0", 1));
    EXPECT_EQ(Check(text), "25");
    std::string ansi = "*h#M\xfc#X";
    for (int k = 3; k <= 19; ++k)
        ansi += "#1";
    ansi += "#\r\n*p#";
    std::vector<PhoneModelRecord> phones;
    std::vector<OperatorRecord> ops;
    ParseDeviceDb(ansi, &phones, &ops);
    ASSERT_EQ(phones.size(), 1u);
    EXPECT_EQ(phones[0].m_strName, u"M\u00fc X");
}

TEST(DeviceDb, EveryTruncationGivesItsNumberedCheck) {
    EXPECT_EQ(Check(""), "1");
    EXPECT_EQ(Check("x#"), "1");
    EXPECT_EQ(Check("*no hash"), "2");
    const std::string head = "*h\r\n";
    // Cut a phone row just before the '#' that closes token k.
    const char* phone_checks[] = {"4",  "5",  "7",  "8",  "9",  "10", "11", "12", "13", "14",
                                  "15", "16", "17", "18", "19", "20", "21", "22", "23"};
    std::string row = PhoneRow(0);
    size_t pos = 0;
    for (int k = 0; k < 19; ++k) {
        pos = row.find('#', pos + 1);
        EXPECT_EQ(Check(head + row.substr(0, pos)), phone_checks[k]) << k;
    }
    std::string closed = head + row.substr(0, row.size() - 2);
    EXPECT_EQ(Check(closed), "23");
    EXPECT_EQ(Check(closed + "x"), "24");
    EXPECT_EQ(Check(closed + "\r"), "25");
    EXPECT_EQ(Check(closed + "\r\n"), "25");
    EXPECT_EQ(Check(head + row + "x"), "3");
    EXPECT_EQ(Check(head + row + "*no hash after"), "25");

    const std::string s2 = head + row + "*p\r\n";
    EXPECT_EQ(Check(s2 + ProviderRow() + "x"), "26");
    const char* provider_checks[] = {"27",    "28",    "29",    "30",    "31",    "35",    "36",
                                     "36-01", "36-05", "36-06", "36-07", "36-08", "36-09", "36-2",
                                     "36-3",  "36-4",  "36-5",  "36-6",  "36-7",  "36-8"};
    std::string prow = ProviderRow();
    pos = 0;
    for (int k = 0; k < 20; ++k) {
        pos = prow.find('#', pos + 1);
        EXPECT_EQ(Check(s2 + prow.substr(0, pos)), provider_checks[k]) << k;
    }
    std::string pclosed = s2 + prow.substr(0, prow.size() - 2);
    EXPECT_EQ(Check(pclosed), "37");
    EXPECT_EQ(Check(pclosed + "\n"), "38");
    EXPECT_EQ(Check(s2 + prow), "39");  // the section ends the text after CR LF
    EXPECT_EQ(Check(s2 + prow + "*"), "ok");
    EXPECT_EQ(Check(s2 + "*"), "25");  // no "#" after the section mark
}

TEST(DeviceDb, RowsReadBeforeAFailedCheckStay) {
    std::vector<PhoneModelRecord> phones;
    std::vector<OperatorRecord> ops;
    std::string text = "*h\r\n" + PhoneRow(0) + PhoneRow(0) + "#cut#";
    DeviceDbResult r = ParseDeviceDb(text, &phones, &ops);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, 2);
    EXPECT_EQ(r.CheckMessage(), u"Corrupted data file. -5-");
    EXPECT_EQ(phones.size(), 2u);
}

TEST(DeviceDb, ScramblingUsesTheRuntimeGeneratorAndIsItsOwnInverse) {
    std::string data = GoodText();
    std::string scrambled = data;
    ScrambleDeviceDb(&scrambled);
    EXPECT_NE(scrambled, data);
    platform::MsRand rng(kDeviceDbSeed);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(static_cast<uint8_t>(scrambled[i]),
                  static_cast<uint8_t>(data[i]) ^ (rng.Next() & 0xFF));
    }
    ScrambleDeviceDb(&scrambled);
    EXPECT_EQ(scrambled, data);
}

TEST(DeviceDb, TruncatedFilesFailCleanlyAndMissingFileIsReported) {
    testing::TempDir dir;
    std::vector<PhoneModelRecord> phones;
    std::vector<OperatorRecord> ops;
    EXPECT_EQ(LoadDeviceDb(dir / "vok.dat", &phones, &ops).failure, 1);
    std::string scrambled = GoodText();
    ScrambleDeviceDb(&scrambled);
    const size_t full = GoodText().find("*\r\nignored") + 1;
    for (size_t n = 0; n < full; ++n) {
        testing::WriteFile(dir / "vok.dat", scrambled.substr(0, n));
        phones.clear();
        ops.clear();
        DeviceDbResult r = LoadDeviceDb(dir / "vok.dat", &phones, &ops);
        EXPECT_FALSE(r.ok) << n;
        EXPECT_EQ(r.failure, 2) << n;
        EXPECT_FALSE(r.check.empty());
    }
}

TEST(DeviceDb, SourceFormDropsCommentsAndUsesCrLf) {
    std::string text = SourceToDeviceDbText("; comment\n*h\n#a#\n; more\n*\n");
    EXPECT_EQ(text, "*h\r\n#a#\r\n*\r\n");
    EXPECT_EQ(SourceToDeviceDbText("*\xc3\xbc\n"), "*\xfc\r\n");
}

TEST(DeviceDb, ShippedDatabaseLoads) {
    const char* bin = std::getenv("SKYVANE_BIN_DIR");
    ASSERT_NE(bin, nullptr) << "SKYVANE_BIN_DIR names the built programs (ctest sets it)";
    std::vector<PhoneModelRecord> phones;
    std::vector<OperatorRecord> ops;
    DeviceDbResult r = LoadDeviceDb(std::filesystem::path(bin) / "vok.dat", &phones, &ops);
    ASSERT_TRUE(r.ok) << r.check;
    EXPECT_GE(phones.size(), 8u);
    EXPECT_GE(ops.size(), 8u);
    bool siemens = false, vodafone = false;
    for (const auto& p : phones) {
        if (p.m_strManufacturerMatch == u"SIEMENS")
            siemens = true;
        EXPECT_FALSE(p.m_strModelMatch.empty());
    }
    for (const auto& o : ops) {
        if (o.m_strName == u"Vodafone D2" && o.m_strSmsCentre == u"+491722270333")
            vodafone = true;
        EXPECT_FALSE(o.m_strSmsCentre.empty());
    }
    EXPECT_TRUE(siemens);
    EXPECT_TRUE(vodafone);
}

}  // namespace
}  // namespace parlo
