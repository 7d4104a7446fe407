// The phonebook synchronisation of the document against the simulated phone,
// through the real phone link and a pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "cordis/cordis.h"
#include "parlo/app/parlo_doc.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/contacts/phonebook.h"
#include "platform/binio.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace parlo {
namespace {

using nlohmann::json;

json Entry(int index, const std::string& number, const std::string& text, int type = 129) {
    return {{"index", index}, {"number", number}, {"type", type}, {"text", text}};
}

json Storage(int last, json entries = json::array()) {
    return {{"first", 1},
            {"last", last},
            {"number_length", 40},
            {"text_length", 14},
            {"entries", entries}};
}

class PhonebookDocTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("phonebook_doc_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        setenv("SKYVANE_HOME", dir_.c_str(), 1);
        setenv("SKYVANE_ROOT", dir_.c_str(), 1);
        setenv("SKYVANE_CONTACTS", (dir_ / "contacts").c_str(), 1);
        link_ = std::make_unique<CCordis>(dir_ / "comm.log");
    }
    void TearDown() override {
        doc_.reset();
        link_.reset();
        phone_.reset();
        if (!HasFailure())
            std::filesystem::remove_all(dir_);
    }
    // Starts the phone with the SIM phonebook `sim` and opens the document
    // with only the SIM storage enabled.
    void Start(json sim, const std::string& serial = "351111111111111",
               std::vector<std::string> charsets = {}) {
        json state = phonesim::testing::DefaultState();
        if (!charsets.empty())
            state["charsets"] = charsets;
        state["operator"]["name"] = "T-Mobile D";
        state["identity"]["serial"] = serial;
        state["phonebook"]["storages"]["SM"] = sim;
        ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", state));
        phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
        ASSERT_TRUE(phone_->Start(
            dir_ / "phone.json", {"--register", "Phonesim", "--alias", "COM3:", "--send-ms", "0"}));
        doc_ = std::make_unique<CParloDoc>(nullptr, &prompt_, link_.get());
        ASSERT_TRUE(doc_->OnNewDocument());
        Inside(*doc_).m_settings.m_nPhonebookFlags = STORAGE_FLAG_SIM;
    }
    // Changes the phone's state between two runs.
    void ChangePhone(const std::function<void(json&)>& change) {
        json state = phone_->ReadState();
        ASSERT_FALSE(state.is_null() || state.is_discarded());
        change(state);
        ASSERT_TRUE(phonesim::testing::WriteState(phone_->state_file(), state));
        ASSERT_TRUE(phone_->Reload());
    }
    json SimEntries() { return phone_->ReadState()["phonebook"]["storages"]["SM"]["entries"]; }
    const json* SimEntry(const json& entries, int index) {
        for (const json& e : entries) {
            if (e["index"] == index)
                return &e;
        }
        return nullptr;
    }
    CPhonebookEntry* Local(int index) {
        return Inside(*doc_).m_phonebook.FindById(STORAGE_FLAG_SIM | static_cast<uint32_t>(index));
    }
    CPhonebookEntry* AddLocal(int index, const std::u16string& name, const std::u16string& number) {
        auto e = std::make_unique<CPhonebookEntry>(STORAGE_FLAG_SIM | index, name, number);
        Inside(*doc_).m_phonebook.m_entries.push_back(std::move(e));
        return Inside(*doc_).m_phonebook.m_entries.back().get();
    }
    // The range reads "AT+CPBR=a,b" the link sent, from its log.
    int RangeReads() {
        std::string bytes;
        platform::ReadFileBytes(dir_ / "comm.log", &bytes);
        std::u16string log;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            log += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        int n = 0;
        for (size_t at = log.find(u"SAR - GO: AT+CPBR="); at != std::u16string::npos;
             at = log.find(u"SAR - GO: AT+CPBR=", at + 1)) {
            size_t end = log.find(u'\n', at);
            n += log.substr(at, end - at).find(u',') != std::u16string::npos;
        }
        return n;
    }

    std::filesystem::path dir_;
    std::unique_ptr<CCordis> link_;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone_;
    std::unique_ptr<CParloDoc> doc_;
    platform::ScriptedPrompt prompt_;
};

TEST_F(PhonebookDocTest, TwoWaySynchronisation) {
    Start(Storage(30, {Entry(1, "0301111", "Phone new"), Entry(3, "491702222", "Intl", 145)}));
    AddLocal(5, u"Handheld new", u"+4917055");
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted)
        << platform::ToUtf8(doc_->Errors().Text());
    EXPECT_EQ(prompt_.texts().back(), u"Synchronization completed successfully");
    EXPECT_EQ(Inside(*doc_).m_settings.m_strPhoneIdentity, u"351111111111111");
    ASSERT_NE(Local(1), nullptr);
    EXPECT_EQ(Local(1)->m_strName, u"Phone new");
    ASSERT_NE(Local(3), nullptr);
    EXPECT_EQ(Local(3)->m_strMobile, u"+491702222");  // type 145 gains the plus sign
    json first = SimEntries();
    const json* written = SimEntry(first, 5);
    ASSERT_NE(written, nullptr);
    EXPECT_EQ((*written)["text"], "Handheld new");
    EXPECT_EQ((*written)["number"], "+4917055");
    EXPECT_EQ(Inside(*doc_).m_phonebook.m_descriptors[0].last, 30);

    // Changes on either side, on both, and deletions on either side.
    Local(1)->m_strMobile = u"0301112";  // handheld changes entry 1
    Local(3)->m_strName = u"Mine";       // both change entry 3
    Local(5)->m_strName.clear();         // handheld deletes entry 5
    Local(5)->m_strMobile.clear();
    AddLocal(7, u"Deleted there", u"7");  // on the phone and then deleted there
    Local(7)->m_strSyncName = u"Deleted there";
    Local(7)->m_strSyncNumber = u"7";
    ChangePhone([](json& s) {
        json& entries = s["phonebook"]["storages"]["SM"]["entries"];
        for (json& e : entries) {
            if (e["index"] == 3)
                e["text"] = "Theirs";
        }
        entries.push_back(Entry(9, "0909", "Later on phone"));
    });
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted);
    json entries = SimEntries();
    ASSERT_TRUE(SimEntry(entries, 1) && SimEntry(entries, 3)) << entries.dump();
    EXPECT_EQ((*SimEntry(entries, 1))["number"], "0301112");
    EXPECT_EQ((*SimEntry(entries, 3))["text"], "Theirs");
    EXPECT_EQ(Local(3)->m_strName, u"Theirs");  // the phone wins
    EXPECT_EQ(SimEntry(entries, 5), nullptr);
    EXPECT_EQ(Local(5), nullptr);
    EXPECT_EQ(Local(7), nullptr);
    ASSERT_NE(Local(9), nullptr);
    // The copy was saved under the phone's identity.
    CPhonebook saved;
    ASSERT_TRUE(saved.Load(doc_->PhonebookFile()));
    EXPECT_EQ(saved.m_entries.size(), Inside(*doc_).m_phonebook.m_entries.size());
}

TEST_F(PhonebookDocTest, LargeStorageInTwentyFiveBlocks) {
    json entries = json::array();
    for (int i = 1; i <= 250; ++i)
        entries.push_back(Entry(i, std::to_string(1000 + i), "n"));
    Start(Storage(250, entries));
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(RangeReads(), 25);
    EXPECT_EQ(Inside(*doc_).m_phonebook.m_entries.size(), 250u);
    ASSERT_NE(Local(250), nullptr);
    EXPECT_EQ(Local(250)->m_strMobile, u"1250");
}

TEST_F(PhonebookDocTest, TheWholeUsedRangeIsRead) {
    // A sparse SIM: one entry at 80, one made here at 12.
    Start(Storage(250, {Entry(80, "0800", "Far in")}));
    AddLocal(12, u"Made here", u"012");
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted)
        << platform::ToUtf8(prompt_.texts().back());
    ASSERT_NE(Local(80), nullptr);
    EXPECT_EQ(Local(80)->m_strName, u"Far in");
    // Stops at the block of the last entry; the empty block that the copy
    // holds an entry in is read twice before the entry counts as not there.
    EXPECT_EQ(RangeReads(), 9);
    json entries = SimEntries();
    EXPECT_NE(SimEntry(entries, 12), nullptr);
}

TEST_F(PhonebookDocTest, ANewEntryNeverGivesWayToThePhones) {
    // Imported before the first synchronisation, at indices the SIM uses.
    Start(Storage(20, {Entry(1, "0301", "On the SIM"), Entry(2, "0302", "Also there")}));
    AddLocal(1, u"Imported/M", u"0170111");
    AddLocal(2, u"Imported/H", u"0302");
    PhonebookSyncReport report;
    ASSERT_EQ(doc_->SynchronizePhonebook(nullptr, nullptr, &report),
              PhonebookSyncResult::kCompleted)
        << platform::ToUtf8(prompt_.texts().back());
    // Both sides keep their entries: ours moved to the free indices 3 and 4.
    EXPECT_EQ(Local(1)->m_strName, u"On the SIM");
    EXPECT_EQ(Local(2)->m_strName, u"Also there");
    ASSERT_NE(Local(3), nullptr);
    ASSERT_NE(Local(4), nullptr);
    EXPECT_EQ(Local(3)->m_strName, u"Imported/M");
    EXPECT_EQ(Local(4)->m_strName, u"Imported/H");
    json entries = SimEntries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ((*SimEntry(entries, 3))["text"], "Imported/M");
    EXPECT_TRUE(report.Empty());

    // A full SIM: the entry stays here, and the run says so.
    // (made before the first synchronisation at an index the SIM lacks)
    ChangePhone([](json& s) { s["phonebook"]["storages"]["SM"]["last"] = 4; });
    AddLocal(15, u"No room", u"0170999");
    EXPECT_EQ(doc_->SynchronizePhonebook(nullptr, nullptr, &report), PhonebookSyncResult::kFailed);
    EXPECT_NE(prompt_.texts().back().find(u"memory is full"), std::u16string::npos);
    EXPECT_NE(prompt_.texts().back().find(u"No room"), std::u16string::npos);
    int kept = 0;
    for (const auto& e : Inside(*doc_).m_phonebook.m_entries)
        kept += e->m_strName == u"No room";
    EXPECT_EQ(kept, 1);
    // It survives in the file, and goes to the phone once there is room.
    CPhonebook saved;
    ASSERT_TRUE(saved.Load(doc_->PhonebookFile()));
    EXPECT_EQ(saved.m_entries.size(), 5u);
    ChangePhone([](json& s) { s["phonebook"]["storages"]["SM"]["last"] = 5; });
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted);
    ASSERT_NE(Local(5), nullptr);
    EXPECT_EQ(Local(5)->m_strName, u"No room");
    EXPECT_NE(SimEntry(SimEntries(), 5), nullptr);
}

TEST_F(PhonebookDocTest, AnEntryThePhoneRefusesIsNamedAndTheRestGoes) {
    Start(Storage(20));
    AddLocal(1, u"Far too long for the SIM/M", u"0171");
    AddLocal(2, u"Two numbers", u"0172;0173");
    AddLocal(3, u"Fits", u"0174");
    PhonebookSyncReport report;
    EXPECT_EQ(doc_->SynchronizePhonebook(nullptr, nullptr, &report), PhonebookSyncResult::kFailed);
    ASSERT_EQ(report.skipped.size(), 2u);
    EXPECT_NE(report.skipped[0].find(u"Far too long for the SIM/M"), std::u16string::npos);
    EXPECT_NE(report.skipped[0].find(u"14 characters"), std::u16string::npos);
    EXPECT_NE(report.skipped[1].find(u"';'"), std::u16string::npos);
    const std::u16string shown = prompt_.texts().back();
    EXPECT_EQ(shown.substr(0, 23), u"Synchronization failed.");
    EXPECT_NE(shown.find(u"Two numbers"), std::u16string::npos);
    json entries = SimEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ((*SimEntry(entries, 3))["text"], "Fits");

    // Not blocked for good: once the user shortens it, it goes.
    Local(1)->m_strName = u"Short/M";
    Local(2)->m_strName.clear();
    Local(2)->m_strMobile.clear();
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted);
    EXPECT_EQ((*SimEntry(SimEntries(), 1))["text"], "Short/M");
}

TEST_F(PhonebookDocTest, NamesOutsideTheGsmAlphabetTravelInUcs2) {
    Start(
        Storage(20, {Entry(1, "0301", "\u0418\u0432\u0430\u043d/M"), Entry(2, "0302", "Jo@Home")}));
    AddLocal(3, u"\u041f\u0451\u0442\u0440/M", u"0303");
    AddLocal(4, u"J\u00f6rg@Home", u"0304");
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted)
        << platform::ToUtf8(prompt_.texts().back());
    EXPECT_EQ(Local(1)->m_strName, u"\u0418\u0432\u0430\u043d/M");
    EXPECT_EQ(Local(2)->m_strName, u"Jo@Home");
    json entries = SimEntries();
    EXPECT_EQ((*SimEntry(entries, 3))["text"], "\u041f\u0451\u0442\u0440/M");
    EXPECT_EQ((*SimEntry(entries, 4))["text"], "J\u00f6rg@Home");
    // Changing only the number keeps the name.
    Local(1)->m_strMobile = u"0309";
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted);
    entries = SimEntries();
    EXPECT_EQ((*SimEntry(entries, 1))["text"], "\u0418\u0432\u0430\u043d/M");
    EXPECT_EQ((*SimEntry(entries, 1))["number"], "0309");
    EXPECT_EQ(Local(1)->m_strName, u"\u0418\u0432\u0430\u043d/M");
}

TEST_F(PhonebookDocTest, APhoneWithoutUcs2IsNotGivenGarbledNames) {
    Start(Storage(20), "351111111111111", {"GSM", "IRA"});
    AddLocal(1, u"\u041f\u0451\u0442\u0440/M", u"0301");
    AddLocal(2, u"Jo@Home", u"0302");
    AddLocal(3, u"\u00d6l_Stra\u00dfe", u"0303");  // GSM codes 0x5C, 0x11, 0x1E
    PhonebookSyncReport report;
    EXPECT_EQ(doc_->SynchronizePhonebook(nullptr, nullptr, &report), PhonebookSyncResult::kFailed);
    ASSERT_EQ(report.skipped.size(), 2u);
    EXPECT_NE(report.skipped[0].find(u"GSM alphabet"), std::u16string::npos);
    json entries = SimEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ((*SimEntry(entries, 3))["text"], "\u00d6l_Stra\u00dfe");
    EXPECT_TRUE(Local(1)->IsUnsynced());
    EXPECT_EQ(Local(1)->m_strName, u"\u041f\u0451\u0442\u0440/M");
}

TEST_F(PhonebookDocTest, TheLoserOfAConflictIsReported) {
    Start(Storage(20, {Entry(1, "0301", "Both"), Entry(2, "0302", "Deleted here"),
                       Entry(3, "0303", "Deleted there")}));
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted);
    Local(1)->m_strMobile = u"0301111";  // changed here ...
    Local(2)->m_strName.clear();         // deleted here ...
    Local(2)->m_strMobile.clear();
    Local(3)->m_strName = u"Renamed here";  // changed here ...
    ChangePhone([](json& s) {
        json& entries = s["phonebook"]["storages"]["SM"]["entries"];
        json kept = json::array();
        for (json& e : entries) {
            if (e["index"] == 1)
                e["number"] = "0301222";  // ... and there
            if (e["index"] == 2)
                e["text"] = "Changed there";  // ... changed there
            if (e["index"] != 3)
                kept.push_back(e);  // ... deleted there
        }
        entries = kept;
    });
    PhonebookSyncReport report;
    ASSERT_EQ(doc_->SynchronizePhonebook(nullptr, nullptr, &report),
              PhonebookSyncResult::kCompleted);
    // The winners as before ...
    EXPECT_EQ(Local(1)->m_strMobile, u"0301222");
    EXPECT_EQ(Local(2), nullptr);
    EXPECT_EQ(Local(3), nullptr);
    EXPECT_TRUE(SimEntries().size() == 1u);
    // ... and every loser named, so that the user can redo it.
    ASSERT_EQ(report.conflicts.size(), 3u);
    const std::u16string shown = prompt_.texts().back();
    EXPECT_NE(shown.find(u"0301111"), std::u16string::npos);
    EXPECT_NE(shown.find(u"Changed there"), std::u16string::npos);
    EXPECT_NE(shown.find(u"Renamed here"), std::u16string::npos);
}

TEST_F(PhonebookDocTest, SwitchingBetweenTwoPhones) {
    Start(Storage(20, {Entry(1, "111", "On phone A")}), "PHONE-A");
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted);
    ChangePhone([](json& s) {
        s["identity"]["serial"] = "PHONE-B";
        s["phonebook"]["storages"]["SM"] = Storage(20, {Entry(2, "222", "On phone B")});
    });
    ASSERT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(Inside(*doc_).m_settings.m_strPhoneIdentity, u"PHONE-B");
    ASSERT_EQ(Inside(*doc_).m_phonebook.m_entries.size(), 1u);
    EXPECT_EQ(Inside(*doc_).m_phonebook.m_entries[0]->m_strName, u"On phone B");
    // The identity was kept with the settings.
    CSettings kept;
    ASSERT_TRUE(LoadPhonebookSettings(dir_, &kept));
    EXPECT_EQ(kept.m_strPhoneIdentity, u"PHONE-B");
    CPhonebook a;
    ASSERT_TRUE(a.Load(PhonebookPath(dir_, u"PHONE-A")));
    ASSERT_EQ(a.m_entries.size(), 1u);
    EXPECT_EQ(a.m_entries[0]->m_strName, u"On phone A");
}

TEST_F(PhonebookDocTest, NameTooLongForThePhoneStaysUnsynchronised) {
    Start(Storage(20));
    AddLocal(1, u"A name longer than fourteen", u"1");
    EXPECT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kFailed);
    json entries = SimEntries();
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(doc_->SynchronizePhonebook(), PhonebookSyncResult::kFailed);
    ASSERT_NE(Local(1), nullptr);
    EXPECT_TRUE(Local(1)->IsUnsynced());
}

TEST_F(PhonebookDocTest, CallDialsTheCleanedNumber) {
    Start(Storage(20));
    EXPECT_TRUE(doc_->CallNumber(u"+49 (170) 123"));
    std::string bytes;
    platform::ReadFileBytes(dir_ / "comm.log", &bytes);
    std::string narrow;
    for (size_t i = 0; i < bytes.size(); i += 2)
        narrow += bytes[i];
    EXPECT_NE(narrow.find("SAR - GO: ATD+49170123;"), std::string::npos);
}

}  // namespace
}  // namespace parlo
