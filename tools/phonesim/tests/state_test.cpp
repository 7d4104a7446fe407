#include "tools/phonesim/state.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace phonesim {
namespace {

TEST(StateTest, RoundTripsThroughJson) {
    State s = State::Default();
    s.sms_storages["SM"].Put({3, kStatusSent, "00AB", 7});
    s.sms_storages["SM"].Put({1, kStatusUnread, "00CD", std::nullopt});
    s.phonebooks["SM"].Put({5, "+49170", 145, "\xC3\xA9l\xC3\xA8ve"});
    SentMessage sent;
    sent.reference = 4;
    sent.pdu = "0011";
    sent.time = "2026-01-01T00:00:00+0000";
    s.sent.push_back(sent);
    s.faults.silence.push_back({2, 0});
    s.faults.garbage.push_back({3, std::string("\xFF\x00", 2), true});
    s.faults.prompt_extra = PromptExtraFault{"\r\n", 50};
    s.empty_slot_error = true;
    State back;
    std::string error;
    ASSERT_TRUE(StateFromJson(StateToJson(s), &back, &error)) << error;
    ASSERT_EQ(back.sms_storages["SM"].slots.size(), 2u);
    EXPECT_EQ(back.sms_storages["SM"].slots[0].index, 1);  // kept in index order
    EXPECT_EQ(back.sms_storages["SM"].slots[1].length, 7);
    EXPECT_EQ(back.phonebooks["SM"].entries[0].text, "\xC3\xA9l\xC3\xA8ve");
    EXPECT_EQ(back.sent[0].reference, 4);
    EXPECT_EQ(back.faults.silence[0].count, 0);
    EXPECT_EQ(back.faults.garbage[0].bytes, std::string("\xFF\x00", 2));
    EXPECT_EQ(back.faults.prompt_extra->text, "\r\n");
    EXPECT_TRUE(back.empty_slot_error);
    EXPECT_EQ(StateToJson(back), StateToJson(s));
}

TEST(StateTest, MissingKeysKeepTheDefaults) {
    State s;
    std::string error;
    ASSERT_TRUE(StateFromJson("{\"echo\": false}", &s, &error)) << error;
    EXPECT_FALSE(s.echo);
    EXPECT_EQ(s.sms_storages["ME"].size, 100);
    EXPECT_EQ(s.phonebooks["SM"].last, 250);
}

TEST(StateTest, RejectsBadFilesWithAReason) {
    const char* bad[] = {
        "",
        "[]",
        "{\"echo\": \"yes\"}",
        "{\"sms\": {\"storages\": {\"SM\": {\"size\": 2, \"slots\": [{\"index\": 3}]}}}}",
        "{\"sms\": {\"storages\": {\"SM\": {\"size\": 5, \"slots\": [{\"index\": 1}, "
        "{\"index\": 1}]}}}}",
        "{\"sms\": {\"storages\": {\"SM\": {\"slots\": [{\"index\": 1, \"status\": 4}]}}}}",
        "{\"sms\": {\"preferred\": [\"XX\", \"SM\", \"SM\"]}}",
        "{\"sms\": {\"empty_slot\": \"maybe\"}}",
        "{\"phonebook\": {\"storages\": {\"SM\": {\"first\": 5, \"last\": 1}}}}",
        "{\"faults\": {\"garbage\": [{\"command\": 1, \"hex\": \"F\"}]}}",
        "{\"faults\": {\"unsolicited\": [{\"kind\": \"ring\"}]}}",
    };
    for (const char* text : bad) {
        State s;
        std::string error;
        EXPECT_FALSE(StateFromJson(text, &s, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(StateTest, SavesAtomicallyAndLoadsBack) {
    char tmpl[] = "/tmp/phonesim-state-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::filesystem::path dir = tmpl;
    State s;
    std::string error;
    bool created = false;
    ASSERT_TRUE(LoadState(dir / "missing.json", &s, &error, &created));
    EXPECT_TRUE(created);
    s.own_number = "+4912345";
    ASSERT_TRUE(SaveState(dir / "p.json", s, &error)) << error;
    State back;
    ASSERT_TRUE(LoadState(dir / "p.json", &back, &error, &created)) << error;
    EXPECT_FALSE(created);
    EXPECT_EQ(back.own_number, "+4912345");
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1u);  // no temporary file left behind
    std::filesystem::remove_all(dir);
}

TEST(StorageTest, FindsFreeSlotsAndEntries) {
    SmsStorage st;
    st.size = 3;
    st.Put({2, 0, "", std::nullopt});
    EXPECT_EQ(st.FirstFree(), 1);
    st.Put({1, 0, "", std::nullopt});
    st.Put({3, 0, "", std::nullopt});
    EXPECT_EQ(st.FirstFree(), 0);
    EXPECT_TRUE(st.Erase(2));
    EXPECT_FALSE(st.Erase(2));
    EXPECT_EQ(st.FirstFree(), 2);
    Phonebook pb;
    pb.first = 10;
    pb.last = 11;
    pb.Put({10, "1", 129, "a"});
    EXPECT_EQ(pb.FirstFree(), 11);
    pb.Put({11, "2", 129, "b"});
    EXPECT_EQ(pb.FirstFree(), 0);
}

}  // namespace
}  // namespace phonesim
