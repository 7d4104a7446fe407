#include <gtest/gtest.h>

#include "platform_test_strings.h"

TEST(StringTable, TextsKeepTheirEscapesAndCharacters) {
    const platform::StringTable& t = strings::platform_test();
    EXPECT_EQ(t.size(), 5u);
    EXPECT_EQ(t.Load(1), u"plain");
    EXPECT_EQ(
        t.Load(65056),
        u"Delete selected folder and ALL it's messages?\r\nAll messages in the folder will be "
        u"deleted.");
    EXPECT_EQ(t.Load(7), u"Say \"hi\" \\ bye");
    EXPECT_EQ(t.Load(8), u"K\u00fcrzlich \u20ac");
    EXPECT_TRUE(t.Has(65009));
    EXPECT_FALSE(t.Has(2));
    EXPECT_EQ(t.Load(65010), u"");
}
