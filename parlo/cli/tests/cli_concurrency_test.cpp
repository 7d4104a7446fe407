// The programs themselves at once on one installation and one simulated
// phone: parlo-cli sync while other parlo-cli processes queue, delete and
// move messages, and a sync killed in the middle. Afterwards every message
// a program said it stored is in the store exactly once, what another
// program changed stays changed, and nothing reaches the phone twice.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "parlo/cli/testing/cli_process.h"
#include "parlo/cli/testing/sim_phonebook.h"
#include "parlo/cli/tests/cli_procs_fixture.h"
#include "parlo/store/message_store.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace {

using namespace std::chrono_literals;
using namespace parlo::clitest;

constexpr int kPhoneMessages = 150;

std::string PhoneText(int round, int i) {
    return "p" + std::to_string(round) + "-" + std::to_string(i);
}

class CliConcurrencyTest : public CliProcsTest {
  protected:
    CliConcurrencyTest() : CliProcsTest("cli-procs") {}

    // A fresh installation with a phone that holds kPhoneMessages received
    // messages in its memory. Every answer is delayed a little, so that a
    // synchronisation lasts a few seconds.
    void NewRound(int round, int send_ms = 0) {
        NewInstallation("round" + std::to_string(round));
        nlohmann::json state = phonesim::testing::DefaultState();
        state["operator"]["name"] = "T-Mobile D";
        state["sms"]["storages"]["ME"]["size"] = kPhoneMessages + 10;
        nlohmann::json slots = nlohmann::json::array();
        for (int i = 1; i <= kPhoneMessages; ++i) {
            slots.push_back(
                {{"index", i},
                 {"status", 1},
                 {"pdu", phonesim::testing::MakeDeliverPdu("+491701234567", PhoneText(round, i))}});
        }
        state["sms"]["storages"]["ME"]["slots"] = slots;
        ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", state));
        phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
        ASSERT_TRUE(phone_->Start(dir_ / "phone.json",
                                  {"--register", "Phonesim", "--alias", "COM3:", "--send-ms",
                                   std::to_string(send_ms), "--delay-ms", "8"}));
        round_ = round;
    }

    // Records (texts in UTF-8) by state, as a fresh program reads the store.
    std::map<std::string, std::vector<int32_t>> StatesByText() {
        std::map<std::string, std::vector<int32_t>> out;
        for (const parlo::CSmsMessage& m : Records())
            out[platform::ToUtf8(m.m_strText)].push_back(m.m_nState);
        return out;
    }

    // The ids that 'parlo-cli list all' shows, by text (texts of ASCII only).
    std::map<std::string, std::string> ListedIds() {
        std::string out;
        EXPECT_EQ(Run({"list", "all"}, &out), 0) << out;
        std::map<std::string, std::string> ids;
        std::istringstream lines(out);
        std::string line;
        std::getline(lines, line);
        const size_t text_at = line.find("TEXT");
        while (std::getline(lines, line)) {
            if (text_at == std::string::npos || line.size() < text_at)
                continue;
            ids[line.substr(text_at)] = line.substr(0, line.find(' '));
        }
        return ids;
    }

    // Every message of the phone is in the Inbox exactly once.
    void ExpectPhoneMessagesStoredOnce(const std::map<std::string, std::vector<int32_t>>& texts) {
        int once = 0;
        for (int i = 1; i <= kPhoneMessages; ++i) {
            auto it = texts.find(PhoneText(round_, i));
            if (it == texts.end()) {
                ADD_FAILURE() << PhoneText(round_, i) << " is not in the store";
                continue;
            }
            EXPECT_EQ(it->second.size(), 1u)
                << PhoneText(round_, i) << " is stored " << it->second.size() << " times";
            if (it->second.size() == 1 &&
                (it->second[0] == parlo::STATE_UNREAD || it->second[0] == parlo::STATE_READ))
                ++once;
        }
        EXPECT_EQ(once, kPhoneMessages);
    }

    // How often each text went out from the phone.
    std::map<std::string, int> SentTexts() {
        std::map<std::string, int> out;
        nlohmann::json state = phone_->ReadState();
        for (const auto& s : state["sms"]["sent"])
            ++out[s.value("text", std::string())];
        return out;
    }

    int round_ = 0;
};

// Senders queue messages, each with a parlo-cli process of its own, while a
// synchronisation reads the phone and compacts the store.
TEST_F(CliConcurrencyTest, SendsDuringASyncAreAllStoredOnce) {
    constexpr int kSenders = 6, kEach = 8;
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        NewRound(round);
        ASSERT_FALSE(HasFatalFailure());
        Program sync = StartSync("sync");
        std::mutex m;
        std::set<std::string> queued;
        std::vector<std::string> refused;
        std::atomic<int> during{0};
        std::vector<std::thread> senders;
        for (int w = 0; w < kSenders; ++w) {
            senders.emplace_back([&, w] {
                for (int i = 0; i < kEach; ++i) {
                    std::string text = "s" + std::to_string(round) + "-" + std::to_string(w) + "-" +
                                       std::to_string(i);
                    std::string out;
                    int status = Run({"send", "+49170555000" + std::to_string(w), text}, &out);
                    bool sync_ran = Running(sync);
                    std::lock_guard<std::mutex> g(m);
                    if (status == 0 && out.find("Queued a message") != std::string::npos) {
                        queued.insert(text);
                        during += sync_ran;
                    } else {
                        refused.push_back(text + ": " + std::to_string(status) + " " + out);
                    }
                }
            });
        }
        for (std::thread& t : senders)
            t.join();
        int sync_status = Finish(sync);
        EXPECT_EQ(sync_status, 0) << Slurp(sync.out);
        // Nothing to refuse here: every send stores.
        EXPECT_TRUE(refused.empty()) << refused.front();

        auto texts = StatesByText();
        int once = 0;
        for (const std::string& t : queued) {
            auto it = texts.find(t);
            ASSERT_NE(it, texts.end()) << t << " said Queued and is gone";
            EXPECT_EQ(it->second.size(), 1u) << t;
            if (it->second.size() == 1 &&
                (it->second[0] == parlo::STATE_OUTBOX || it->second[0] == parlo::STATE_SENT))
                ++once;
        }
        EXPECT_EQ(once, kSenders * kEach);
        ExpectPhoneMessagesStoredOnce(texts);
        std::cout << "round " << round << ": " << kSenders << " senders x " << kEach << " ("
                  << during << " while the sync ran) during a " << kPhoneMessages
                  << "-message sync: " << once << " of " << kSenders * kEach << " stored once\n";

        // A second run sends what is left, each message once.
        std::string out;
        EXPECT_EQ(Run({"sync"}, &out), 0) << out;
        std::map<std::string, int> sent = SentTexts();
        for (const std::string& t : queued)
            EXPECT_EQ(sent[t], 1) << t;
        texts = StatesByText();
        for (const std::string& t : queued)
            EXPECT_EQ(texts[t], std::vector<int32_t>{parlo::STATE_SENT}) << t;
    }
}

// Another process deletes and moves stored messages while a synchronisation
// adds the phone's: the deletions and moves stick, and the new messages are
// all there.
TEST_F(CliConcurrencyTest, DeleteAndMoveDuringASyncStick) {
    constexpr int kOld = 24;
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        NewRound(round);
        ASSERT_FALSE(HasFatalFailure());
        std::string out;
        ASSERT_EQ(Run({"folders", "add", "Kept"}, &out), 0) << out;
        {
            // Messages stored before, ids 1 to kOld.
            parlo::CMessageStore store(dir_);
            ASSERT_EQ(store.LoadMessages(), parlo::StoreResult::kOk);
            for (int i = 1; i <= kOld; ++i) {
                parlo::StoreResult r;
                store.Add(
                    std::make_unique<parlo::CSmsMessage>(
                        parlo::STATE_READ, u"+491709999999",
                        platform::FromUtf8("old-" + std::to_string(i)),
                        platform::OleDate{45000.0 + i, 0}, 0, parlo::STORAGE_POCKETPC, -1, -1, 0),
                    &r);
                ASSERT_EQ(r, parlo::StoreResult::kOk);
            }
        }
        std::map<std::string, std::string> ids = ListedIds();
        Program sync = StartSync("sync");
        int during = 0;
        // "old-1" to "old-8" deleted, 9-16 moved to "Kept", one command each,
        // by the ids listed before the run.
        for (int i = 1; i <= 16; ++i) {
            std::vector<std::string> args = i <= 8 ? std::vector<std::string>{"delete"}
                                                   : std::vector<std::string>{"move", "Kept"};
            args.push_back(ids["old-" + std::to_string(i)]);
            EXPECT_EQ(Run(args, &out), 0) << out;
            during += Running(sync);
        }
        EXPECT_EQ(Finish(sync), 0) << Slurp(sync.out);

        std::map<std::string, std::vector<int32_t>> texts;
        std::set<int32_t> kept_folders;
        for (const parlo::CSmsMessage& m : Records()) {
            std::string t = platform::ToUtf8(m.m_strText);
            texts[t].push_back(m.m_nState);
            if (t.rfind("old-", 0) == 0 && m.m_nState == parlo::STATE_IN_FOLDER)
                kept_folders.insert(m.m_nFolderId);
        }
        int stuck = 0;
        for (int i = 1; i <= kOld; ++i) {
            std::string t = "old-" + std::to_string(i);
            int32_t want = i <= 8    ? parlo::STATE_DELETED
                           : i <= 16 ? parlo::STATE_IN_FOLDER
                                     : parlo::STATE_READ;
            EXPECT_EQ(texts[t], std::vector<int32_t>{want}) << t;
            stuck += texts[t] == std::vector<int32_t>{want} && i <= 16;
        }
        EXPECT_EQ(kept_folders.size(), 1u);
        ExpectPhoneMessagesStoredOnce(texts);
        std::cout << "round " << round << ": 8 deletes and 8 moves (" << during
                  << " while the sync ran) during a " << kPhoneMessages
                  << "-message sync: " << stuck << " of 16 stuck\n";
    }
}

// Ids taken from a list name the same messages after another program's
// compaction has moved every record; an id of a message purged meanwhile is
// refused, and nothing changes.
TEST_F(CliConcurrencyTest, ListedIdsSurviveAnotherProgramsCompaction) {
    NewRound(1);
    ASSERT_FALSE(HasFatalFailure());
    std::string out;
    ASSERT_EQ(Run({"folders", "add", "Kept"}, &out), 0) << out;
    for (int i = 1; i <= 6; ++i)
        ASSERT_EQ(Run({"send", "+4917055520" + std::to_string(i), "m" + std::to_string(i)}, &out),
                  0)
            << out;
    std::map<std::string, std::string> ids = ListedIds();
    ASSERT_EQ(ids.size(), 6u);

    // Another program deletes the first two and empties the Recycle Bin:
    // every other record moves to another position in the file.
    ASSERT_EQ(Run({"delete", ids["m1"], ids["m2"]}, &out), 0) << out;
    ASSERT_EQ(Run({"--yes", "empty-recycle-bin"}, &out), 0) << out;

    ASSERT_EQ(Run({"delete", ids["m4"]}, &out), 0) << out;
    ASSERT_EQ(Run({"move", "Kept", ids["m5"]}, &out), 0) << out;
    ASSERT_EQ(Run({"show", ids["m6"]}, &out), 0) << out;
    EXPECT_NE(out.find("Number:      +49170555206"), std::string::npos) << out;
    auto before = StatesByText();
    EXPECT_NE(Run({"delete", ids["m3"], ids["m1"]}, &out), 0);
    EXPECT_NE(out.find("the store changed since you listed it"), std::string::npos) << out;
    EXPECT_NE(Run({"move", "Kept", ids["m2"]}, &out), 0);
    EXPECT_NE(out.find("the store changed since you listed it"), std::string::npos) << out;

    auto texts = StatesByText();
    EXPECT_EQ(texts, before);  // the refused commands changed nothing
    EXPECT_EQ(texts.count("m1") + texts.count("m2"), 0u);
    EXPECT_EQ(texts["m3"], std::vector<int32_t>{parlo::STATE_OUTBOX});
    EXPECT_EQ(texts["m4"], std::vector<int32_t>{parlo::STATE_DELETED});
    EXPECT_EQ(texts["m5"], std::vector<int32_t>{parlo::STATE_IN_FOLDER});
    EXPECT_EQ(texts["m6"], std::vector<int32_t>{parlo::STATE_OUTBOX});
    // The ids a new list shows are the ones listed before.
    std::map<std::string, std::string> now = ListedIds();
    for (const char* t : {"m3", "m4", "m5", "m6"})
        EXPECT_EQ(now[t], ids[t]) << t;
}

// Outbox messages that another process deletes while the synchronisation
// sends the ones before them are not sent: the deletion sticks.
TEST_F(CliConcurrencyTest, OutboxMessagesDeletedDuringASyncAreNotSent) {
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // The phone takes 1.5 s to transmit each message.
        NewRound(round, 1500);
        ASSERT_FALSE(HasFatalFailure());
        std::string out;
        std::vector<std::string> outbox;
        for (int i = 0; i < 6; ++i) {
            outbox.push_back("d" + std::to_string(round) + "-" + std::to_string(i));
            ASSERT_EQ(Run({"send", "+4917055520" + std::to_string(i), outbox.back()}, &out), 0)
                << out;
        }
        std::map<std::string, std::string> ids = ListedIds();
        Program sync = StartSync("sync");
        auto end = Clock::now() + 120s;
        while (Clock::now() < end && Running(sync) && phone_->ReadState()["sms"]["sent"].size() < 1)
            std::this_thread::sleep_for(10ms);
        // The last three of the Outbox.
        for (int i = 3; i < 6; ++i)
            EXPECT_EQ(Run({"delete", ids[outbox[static_cast<size_t>(i)]]}, &out), 0) << out;
        // The sync reaches the fourth message after three transmissions.
        bool in_time = phone_->ReadState()["sms"]["sent"].size() < 4;
        EXPECT_EQ(Finish(sync), 0) << Slurp(sync.out);

        std::map<std::string, int> sent = SentTexts();
        auto texts = StatesByText();
        int went_out = 0;
        for (int i = 0; i < 6; ++i) {
            const std::string& t = outbox[i];
            int32_t want = i < 3 ? parlo::STATE_SENT : parlo::STATE_DELETED;
            EXPECT_EQ(texts[t], std::vector<int32_t>{want}) << t;
            if (in_time) {
                EXPECT_EQ(sent[t], i < 3 ? 1 : 0) << t;
            }
            went_out += sent[t];
        }
        ExpectPhoneMessagesStoredOnce(texts);
        std::cout << "round " << round << ": 3 of 6 Outbox messages deleted while the sync sent"
                  << (in_time ? "" : " (too late to check the phone)") << "; " << went_out
                  << " went out\n";
    }
}

// A synchronisation killed at some moment, then another one: with "delete
// after synchronisation" the phone loses only messages that are stored, no
// message is stored twice, and no Outbox message goes out twice. Besides
// moments in time, the run is killed while the phone transmits an Outbox
// message and has not answered yet.
TEST_F(CliConcurrencyTest, AKilledSyncLosesAndRepeatsNothing) {
    struct KillPoint {
        std::chrono::milliseconds after;
        size_t sent;  // or when the phone has sent this many
    };
    const std::vector<KillPoint> points = {{50ms, 0},   {400ms, 0}, {900ms, 0}, {1600ms, 0},
                                           {2500ms, 0}, {0ms, 1},   {0ms, 4}};
    for (int round = 1; round <= static_cast<int>(points.size()); ++round) {
        const KillPoint& point = points[round - 1];
        SCOPED_TRACE("round " + std::to_string(round));
        NewRound(round, point.sent ? 1500 : 0);
        ASSERT_FALSE(HasFatalFailure());
        std::string out;
        ASSERT_EQ(Run({"options", "delete-after-sync", "on"}, &out), 0) << out;
        std::vector<std::string> outbox;
        for (int i = 0; i < 6; ++i) {
            outbox.push_back("o" + std::to_string(round) + "-" + std::to_string(i));
            ASSERT_EQ(Run({"send", "+4917055510" + std::to_string(i), outbox.back()}, &out), 0)
                << out;
        }

        Program sync = StartSync("killed");
        if (point.sent) {
            auto end = Clock::now() + 120s;
            while (Clock::now() < end && Running(sync) &&
                   phone_->ReadState()["sms"]["sent"].size() < point.sent)
                std::this_thread::sleep_for(10ms);
        } else {
            std::this_thread::sleep_for(point.after);
        }
        bool killed = Running(sync);
        kill(sync.pid, SIGKILL);
        Finish(sync);

        // The next run may list messages held because they may have gone
        // out; it ends all the same.
        Program again = Start({"sync"}, "again");
        int again_status = Finish(again);
        EXPECT_TRUE(again_status == 0 || again_status == 1) << Slurp(again.out);

        auto texts = StatesByText();
        ExpectPhoneMessagesStoredOnce(texts);
        std::map<std::string, int> sent = SentTexts();
        std::map<std::string, int32_t> phone_index;
        for (const parlo::CSmsMessage& m : Records())
            phone_index[platform::ToUtf8(m.m_strText)] = m.m_nPhoneIndex;
        int held = 0, sent_once = 0;
        for (const std::string& t : outbox) {
            EXPECT_LE(sent[t], 1) << t << " went out " << sent[t] << " times";
            sent_once += sent[t] == 1;
            ASSERT_EQ(texts[t].size(), 1u) << t;
            int32_t state = texts[t][0];
            EXPECT_TRUE(state == parlo::STATE_SENT || state == parlo::STATE_OUTBOX) << t;
            // One that may have gone out is held, not sent again unasked.
            if (state == parlo::STATE_OUTBOX) {
                EXPECT_EQ(phone_index[t], -2) << t;
                ++held;
            }
        }
        // Every message the phone still holds is stored (it was not
        // deleted because it was not stored).
        nlohmann::json phone = phone_->ReadState();
        size_t left = phone["sms"]["storages"]["ME"]["slots"].size();
        std::cout << "round " << round << ": killed "
                  << (point.sent
                          ? "while the phone sent Outbox message " + std::to_string(point.sent)
                          : "after " + std::to_string(point.after.count()) + " ms")
                  << (killed ? "" : " (had ended)") << "; then " << kPhoneMessages << " of "
                  << kPhoneMessages << " phone messages checked, " << left << " left on the phone, "
                  << sent_once << " of " << outbox.size() << " Outbox messages sent once, " << held
                  << " held as 'may have gone out'\n";
        if (held > 0) {
            EXPECT_NE(Slurp(again.out).find("may have gone out"), std::string::npos)
                << Slurp(again.out);
        }
    }
}

// A message whose send the phone never confirmed may have gone out: it is
// held in the Outbox until the user releases it with parlo-cli release, and
// only then goes out again.
TEST_F(CliConcurrencyTest, AHeldMessageGoesOutOnlyAfterRelease) {
    // The phone takes ten minutes to confirm a send: the run is killed while
    // it waits, after the message was marked as on its way.
    NewRound(1, 600000);
    ASSERT_FALSE(HasFatalFailure());
    std::string out;
    ASSERT_EQ(Run({"send", "+491709999999", "held one"}, &out), 0) << out;
    ASSERT_EQ(Run({"send", "+491708888888", "ordinary one"}, &out), 0) << out;
    ASSERT_EQ(Run({"release"}, &out), 0) << out;
    EXPECT_NE(out.find("No message is held in the Outbox."), std::string::npos) << out;

    Program sync = StartSync("sync");
    auto on_its_way = [&] {
        for (const parlo::CSmsMessage& m : Records()) {
            if (platform::ToUtf8(m.m_strText) == "held one" && m.m_nPhoneIndex == -2)
                return true;
        }
        return false;
    };
    auto end = Clock::now() + 120s;
    while (Clock::now() < end && Running(sync) && !on_its_way())
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(Running(sync)) << Slurp(sync.out);
    kill(sync.pid, SIGKILL);
    Finish(sync);

    // Listed as held, with the id to release it by.
    ASSERT_EQ(Run({"release"}, &out), 0) << out;
    EXPECT_NE(out.find("Held in the Outbox"), std::string::npos) << out;
    EXPECT_NE(out.find("held one"), std::string::npos) << out;
    EXPECT_EQ(out.find("ordinary one"), std::string::npos) << out;
    std::string id;
    {
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (line.find("held one") != std::string::npos) {
                std::istringstream words(line);
                words >> id;
            }
        }
    }
    ASSERT_FALSE(id.empty()) << out;

    // A phone that answers at once now; the held message still does not go
    // out, and the run says why.
    phone_->Stop();
    phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
    ASSERT_TRUE(phone_->Start(dir_ / "phone.json",
                              {"--register", "Phonesim", "--alias", "COM3:", "--send-ms", "0"}));
    const int before = SentTexts()["held one"];
    EXPECT_NE(Run({"sync"}, &out), 0) << out;
    EXPECT_NE(out.find("may have gone out already"), std::string::npos) << out;
    EXPECT_EQ(SentTexts()["held one"], before);
    EXPECT_EQ(SentTexts()["ordinary one"], 1);

    EXPECT_NE(Run({"release", "999999"}, &out), 0) << out;
    ASSERT_EQ(Run({"release", id}, &out), 0) << out;
    EXPECT_NE(out.find("Released message"), std::string::npos) << out;
    EXPECT_NE(Run({"release", id}, &out), 0) << out;
    EXPECT_NE(out.find("is not held"), std::string::npos) << out;

    ASSERT_EQ(Run({"sync"}, &out), 0) << out;
    EXPECT_EQ(SentTexts()["held one"], before + 1);
    EXPECT_EQ(StatesByText()["held one"], std::vector<int32_t>{parlo::STATE_SENT});
    ASSERT_EQ(Run({"release"}, &out), 0) << out;
    EXPECT_NE(out.find("No message is held in the Outbox."), std::string::npos) << out;
}

}  // namespace

namespace {

// A phone whose SIM holds entries "Phone 1" .. "Phone 10" at indices 1..10,
// answering each command after `delay_ms`.
class PhonebookProcsTest : public CliConcurrencyTest {
  protected:
    void NewPhonebookRound(int round, int delay_ms) {
        NewInstallation("pb" + std::to_string(round));
        ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", SimPhonebookState()));
        phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
        ASSERT_TRUE(phone_->Start(dir_ / "phone.json", {"--register", "Phonesim", "--delay-ms",
                                                        std::to_string(delay_ms)}));
        std::string out;
        ASSERT_EQ(Run({"options", "phonebook", "sim"}, &out), 0) << out;
    }
    // How often each text is on the phone's SIM.
    std::map<std::string, int> PhoneTexts() {
        std::map<std::string, int> out;
        const nlohmann::json state = phone_->ReadState();
        for (const auto& e : state["phonebook"]["storages"]["SM"]["entries"])
            ++out[e.value("text", std::string())];
        return out;
    }
};

// kill -9 of a phonebook synchronisation that writes new entries (most of
// them to indices the phone uses already, so that they move), at moments
// spread over the run; then a run to the end. Every entry is on the phone
// exactly once, and in the copy.
TEST_F(PhonebookProcsTest, AKilledPhonebookSyncWritesNothingTwiceAndLosesNothing) {
    const std::vector<std::chrono::milliseconds> points = {150ms,  400ms,  700ms,  1000ms,
                                                           1400ms, 1900ms, 2500ms, 3200ms};
    int duplicated = 0, lost = 0, killed_running = 0;
    for (int round = 1; round <= static_cast<int>(points.size()); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        NewPhonebookRound(round, 15);
        ASSERT_FALSE(HasFatalFailure());
        std::string out;
        for (int i = 1; i <= 15; ++i) {
            ASSERT_EQ(Run({"phonebook", "add", "New " + std::to_string(i),
                           "0170" + std::to_string(100 + i), "--sim"},
                          &out),
                      0)
                << out;
        }
        Program sync = Start({"phonebook", "sync"}, "killed");
        std::this_thread::sleep_for(points[round - 1]);
        killed_running += Running(sync);
        kill(sync.pid, SIGKILL);
        Finish(sync);

        ASSERT_EQ(Run({"phonebook", "sync"}, &out), 0) << out;
        std::map<std::string, int> texts = PhoneTexts();
        ASSERT_EQ(Run({"phonebook", "list"}, &out), 0) << out;
        for (int i = 1; i <= 15; ++i) {
            const std::string name = "New " + std::to_string(i);
            EXPECT_EQ(texts[name], 1) << name;
            duplicated += texts[name] > 1 ? texts[name] - 1 : 0;
            lost += texts[name] == 0;
            EXPECT_NE(out.find("\t" + name + "\t"), std::string::npos) << name << "\n" << out;
        }
        for (int i = 1; i <= 10; ++i)
            EXPECT_EQ(texts["Phone " + std::to_string(i)], 1) << i;
    }
    std::cout << points.size() << " phonebook synchronisations killed (" << killed_running
              << " while running): " << duplicated << " entries written twice, " << lost
              << " lost\n";
}

}  // namespace
