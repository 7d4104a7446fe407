// The parts table: its file, its previous version and damage.
#include "parlo/store/parts_table.h"

#include <gtest/gtest.h>

#include <string>

#include "parlo/store/tests/test_util.h"

namespace parlo {
namespace {

CPartGroup Group(uint32_t id, int parts) {
    CPartGroup g;
    g.m_nId = id;
    g.m_strNumber = u"+4917011";
    g.m_nRef = 300;
    g.m_bRef16 = true;
    g.m_nTotal = 3;
    g.m_anchor = 46000.25;
    g.m_priorTexts = {u"before"};
    for (int k = 1; k <= parts; ++k)
        g.m_parts.push_back(
            {k, 2, 10 + k, 0, 46000.25 + k, u"text " + std::u16string(1, u'0' + k)});
    return g;
}

TEST(PartsTableTest, FileRoundTripsAndDamageIsDetected) {
    CPartsFile file;
    file.m_nNextId = 9;
    file.m_groups = {Group(1, 2), Group(2, 3)};
    file.m_groups[1].m_bSent = true;
    std::string bytes = SerialisePartsFile(file);
    CPartsFile back;
    ASSERT_TRUE(ParsePartsFile(bytes, &back));
    EXPECT_EQ(back.m_nNextId, 9u);
    ASSERT_EQ(back.m_groups.size(), 2u);
    EXPECT_TRUE(back.m_groups[0].m_bRef16);
    EXPECT_FALSE(back.m_groups[0].m_bSent);
    EXPECT_TRUE(back.m_groups[1].m_bSent);
    EXPECT_EQ(back.m_groups[0].m_priorTexts, std::vector<std::u16string>{u"before"});
    ASSERT_EQ(back.m_groups[1].m_parts.size(), 3u);
    EXPECT_EQ(back.m_groups[1].m_parts[2].m_nSlot, 13);
    EXPECT_EQ(back.m_groups[1].m_parts[2].m_strText, u"text 3");
    EXPECT_EQ(back.Find(2)->Received(), 3);
    EXPECT_TRUE(back.Find(2)->Complete());
    EXPECT_FALSE(back.Find(1)->Complete());

    // Every single flipped byte and every cut is refused.
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::string bad = bytes;
        bad[i] = static_cast<char>(bad[i] ^ 0x20);
        EXPECT_FALSE(ParsePartsFile(bad, &back)) << i;
        EXPECT_FALSE(ParsePartsFile(bytes.substr(0, i), &back)) << i;
    }
}

TEST(PartsTableTest, UpdateKeepsThePreviousVersionForADamagedTable) {
    testing::TempDir dir;
    CPartsTable table(dir.path());
    CPartsFile file;
    EXPECT_EQ(table.Load(&file), PartsResult::kOk);  // absent: empty
    EXPECT_TRUE(file.m_groups.empty());
    auto add = [](uint32_t id) {
        return [id](CPartsFile& f) {
            f.m_groups.push_back(Group(id, 1));
            return true;
        };
    };
    ASSERT_EQ(table.Update(add(1)), PartsResult::kOk);
    ASSERT_EQ(table.Update(add(2)), PartsResult::kOk);
    // A change that changes nothing writes nothing.
    ASSERT_EQ(table.Update([](CPartsFile&) { return false; }), PartsResult::kOk);
    ASSERT_EQ(table.Load(&file), PartsResult::kOk);
    EXPECT_EQ(file.m_groups.size(), 2u);

    // Damage: the previous version is read instead.
    std::string bytes = testing::ReadFile(table.Path());
    bytes[bytes.size() / 2] ^= 1;
    testing::WriteFile(table.Path(), bytes);
    EXPECT_EQ(table.Load(&file), PartsResult::kDamaged);
    ASSERT_EQ(file.m_groups.size(), 1u);
    EXPECT_EQ(file.m_groups[0].m_nId, 1u);
    // An update on a damaged table goes on from that version and leaves the
    // good old copy in place.
    EXPECT_EQ(table.Update(add(3)), PartsResult::kDamaged);
    ASSERT_EQ(table.Load(&file), PartsResult::kOk);
    ASSERT_EQ(file.m_groups.size(), 2u);
    EXPECT_EQ(file.m_groups[1].m_nId, 3u);
    CPartsFile old;
    ASSERT_TRUE(ParsePartsFile(testing::ReadFile(table.OldPath()), &old));
    EXPECT_EQ(old.m_groups.size(), 1u);
}

}  // namespace
}  // namespace parlo
