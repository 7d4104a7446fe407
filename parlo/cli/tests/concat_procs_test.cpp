// Long messages and whole programs: parlo-cli sync killed (kill -9) while it
// stores the parts of long messages, at moments taken from what it writes
// and at moments in time, then a sync run to its end; and another parlo-cli
// deleting or moving an incomplete message while a sync completes it.
// Afterwards every message is in the store once, whole, and the phone lost
// no slot whose message was not stored.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "parlo/cli/testing/cli_process.h"
#include "parlo/cli/tests/cli_procs_fixture.h"
#include "parlo/store/message_store.h"
#include "parlo/store/parts_table.h"
#include "platform/text.h"
#include "tools/phonesim/charset.h"
#include "tools/phonesim/hex.h"
#include "tools/phonesim/sms_pdu.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace {

using namespace std::chrono_literals;
using namespace parlo::clitest;

constexpr int kLong = 12;     // messages of 3 parts
constexpr int kSingles = 20;  // and single messages
constexpr size_t kPart = 153;
constexpr std::time_t kWhen = 1700000000;  // long ago: whole messages leave the table

// The text of long message `i` of round `round`: three full parts, each
// beginning with its own words.
std::string LongText(int round, int i) {
    std::string text;
    for (int k = 1; k <= 3; ++k) {
        std::string part =
            "L" + std::to_string(round) + "-" + std::to_string(i) + "/" + std::to_string(k) + ":";
        while (part.size() < kPart)
            part += " the quick brown fox jumps over the lazy dog";
        part.resize(kPart);
        part.back() = k == 3 ? '.' : '-';
        text += part;
    }
    return text;
}

std::string SingleText(int round, int j) {
    return "S" + std::to_string(round) + "-" + std::to_string(j);
}

// The phone's slots: what each holds, for the checks after a kill.
struct SlotContent {
    std::string text;  // the part's text, or the single message's
    bool part = false;
};
using PhoneSlots = std::map<std::pair<std::string, int>, SlotContent>;

class ConcatProcsTest : public CliProcsTest {
  protected:
    ConcatProcsTest() : CliProcsTest("concat-procs") {}

    // A fresh installation and a phone holding `longs` messages of 3 parts
    // (parts in reverse order, over phone memory and SIM) and `singles`
    // single messages; `parts` picks which parts of each long message are
    // on the phone. The phone answers each command after 8 ms.
    void NewRound(int round, int longs, int singles, bool listing,
                  const std::vector<int>& parts = {1, 2, 3}) {
        NewInstallation("round" + std::to_string(round));
        round_ = round;
        slots_.clear();
        nlohmann::json me = nlohmann::json::array(), sm = nlohmann::json::array();
        auto put = [&](const std::string& storage, const std::string& pdu, int status,
                       SlotContent content) {
            nlohmann::json& slots = storage == "ME" ? me : sm;
            const int index = static_cast<int>(slots.size()) + 1;
            slots.push_back({{"index", index}, {"status", status}, {"pdu", pdu}});
            slots_[{storage, index}] = std::move(content);
        };
        for (int i = 1; i <= longs; ++i) {
            const std::string text = LongText(round, i);
            std::vector<std::string> pdus = phonesim::MakeConcatDelivers(
                "+491710760000", "+4917012345" + std::to_string(i % 10),
                phonesim::Utf8ToUtf16(text), i, kWhen + i * 60);
            EXPECT_EQ(pdus.size(), 3u);
            for (int k = 3; k >= 1; --k) {
                if (std::find(parts.begin(), parts.end(), k) == parts.end())
                    continue;
                put((i + k) % 3 == 0 ? "SM" : "ME",
                    phonesim::BytesToHex(pdus[static_cast<size_t>(k - 1)]), i % 2,
                    {text.substr((k - 1) * kPart, kPart), true});
            }
        }
        for (int j = 1; j <= singles; ++j) {
            put("ME", phonesim::testing::MakeDeliverPdu("+491709876543", SingleText(round, j)), 1,
                {SingleText(round, j), false});
        }
        nlohmann::json state = phonesim::testing::DefaultState();
        state["operator"]["name"] = "T-Mobile D";
        state["sms"]["storages"]["ME"] = {{"size", me.size() + 20}, {"slots", me}};
        state["sms"]["storages"]["SM"] = {{"size", sm.size() + 20}, {"slots", sm}};
        state["sms"]["list"] = listing ? "all" : "error";
        ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", state));
        phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
        ASSERT_TRUE(phone_->Start(dir_ / "phone.json", {"--register", "Phonesim", "--alias",
                                                        "COM3:", "--delay-ms", "8"}));
    }

    PhoneSlots OnPhone() const {
        PhoneSlots now;
        nlohmann::json state = phone_->ReadState();
        for (const std::string storage : {"ME", "SM"}) {
            for (const auto& s : state["sms"]["storages"][storage]["slots"]) {
                auto key = std::make_pair(storage, s["index"].get<int>());
                auto it = slots_.find(key);
                if (it != slots_.end())
                    now[key] = it->second;
            }
        }
        return now;
    }

    // Every slot the phone no longer has held a message that is stored:
    // a single message as it was, a part inside its message's text.
    void ExpectGoneSlotsStored(const std::vector<parlo::CSmsMessage>& records) {
        PhoneSlots left = OnPhone();
        for (const auto& [key, content] : slots_) {
            if (left.count(key))
                continue;
            const std::u16string text = platform::FromUtf8(content.text);
            bool stored = false;
            for (const parlo::CSmsMessage& m : records) {
                stored = stored || (content.part ? m.m_strText.find(text) != std::u16string::npos
                                                 : m.m_strText == text);
            }
            EXPECT_TRUE(stored) << key.first << " " << key.second
                                << " was deleted unstored: " << content.text;
        }
    }

    // Every message of the phone is stored once, whole; nothing is shown
    // incomplete.
    void ExpectEveryMessageOnceWhole(int longs, int singles) {
        std::vector<parlo::CSmsMessage> records = Records();
        for (int i = 1; i <= longs; ++i) {
            const std::string prefix =
                "L" + std::to_string(round_) + "-" + std::to_string(i) + "/1:";
            int found = 0;
            for (const parlo::CSmsMessage& m : records) {
                const std::string t = platform::ToUtf8(m.m_strText);
                if (t.find(prefix) == std::string::npos)
                    continue;
                ++found;
                EXPECT_EQ(t, LongText(round_, i));
            }
            EXPECT_EQ(found, 1) << prefix;
        }
        for (int j = 1; j <= singles; ++j) {
            int found = 0;
            for (const parlo::CSmsMessage& m : records)
                found += platform::ToUtf8(m.m_strText) == SingleText(round_, j);
            EXPECT_EQ(found, 1) << SingleText(round_, j);
        }
        // No fragment and no message shown incomplete.
        const std::u16string mine = platform::FromUtf8("L" + std::to_string(round_) + "-");
        for (const parlo::CSmsMessage& m : records) {
            if (m.m_strText.find(mine) == std::u16string::npos)
                continue;
            bool whole = false;
            for (int i = 1; i <= longs; ++i)
                whole = whole || platform::ToUtf8(m.m_strText) == LongText(round_, i);
            EXPECT_TRUE(whole) << platform::ToUtf8(m.m_strText);
        }
    }

    PhoneSlots slots_;
    int round_ = 0;
};

// A file's identity: a replaced file (temporary file renamed over it) has a
// new inode.
struct FileMark {
    ino_t inode = 0;
    off_t size = -1;
    bool operator!=(const FileMark& o) const { return inode != o.inode || size != o.size; }
};
FileMark Mark(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return {st.st_ino, st.st_size};
}

// kill -9 of the synchronisation: after each write of the parts table (the
// parts of phone memory, those of the SIM, the earlier texts forgotten once
// the records are complete, the slots about to be deleted let go of), while
// the parts' slots are deleted, after the store's 1st and 15th change, and at
// moments in time; with "delete after synchronisation" on and off, with and
// without the phone's listing. Then a run to the end.
TEST_F(ConcatProcsTest, AKilledSyncLeavesEveryLongMessageOnceAndDeletesNothingUnstored) {
    struct KillPoint {
        const char* file;                 // a file to watch, or null for a moment in time
        int changes;                      // kill after that many changes of it
        std::chrono::milliseconds after;  // and this long after
    };
    const std::vector<KillPoint> points = {
        {"vok.parts", 1, 0ms}, {"vok.parts", 2, 0ms},  {"vok.parts", 3, 0ms},
        {"vok.parts", 4, 0ms}, {"vok.parts", 4, 80ms}, {"vok.sms", 1, 0ms},
        {"vok.sms", 15, 0ms},  {nullptr, 0, 300ms},    {nullptr, 0, 700ms}};
    int round = 0;
    for (bool delete_after : {true, false}) {
        for (bool listing : {true, false}) {
            for (const KillPoint& point : points) {
                ++round;
                SCOPED_TRACE("round " + std::to_string(round) + (delete_after ? " delete" : "") +
                             (listing ? " listing" : " slot by slot") + " kill at " +
                             (point.file ? std::string(point.file) + " change " +
                                               std::to_string(point.changes)
                                         : std::to_string(point.after.count()) + " ms"));
                NewRound(round, kLong, kSingles, listing);
                ASSERT_FALSE(HasFatalFailure());
                std::string out;
                ASSERT_EQ(Run({"options", "delete-after-sync", delete_after ? "on" : "off"}, &out),
                          0)
                    << out;

                Program sync = StartSync("killed");
                if (point.file) {
                    const std::filesystem::path watched = dir_ / point.file;
                    FileMark last = Mark(watched);
                    int changes = 0;
                    auto end = Clock::now() + 120s;
                    while (Clock::now() < end && Running(sync) && changes < point.changes) {
                        std::this_thread::sleep_for(200us);
                        FileMark now = Mark(watched);
                        if (now != last) {
                            ++changes;
                            last = now;
                        }
                    }
                }
                std::this_thread::sleep_for(point.after);
                const bool killed = Running(sync);
                kill(sync.pid, SIGKILL);
                Finish(sync);

                // Nothing the phone lost is missing from the store.
                ExpectGoneSlotsStored(Records());
                const size_t left_after_kill = OnPhone().size();

                Program again = Launch({"sync"}, dir_ / "again.out");
                EXPECT_EQ(Finish(again), 0) << Slurp(again.out);
                ExpectEveryMessageOnceWhole(kLong, kSingles);
                EXPECT_EQ(OnPhone().size(), delete_after ? 0u : slots_.size());
                parlo::CPartsFile table;
                EXPECT_EQ(parlo::CPartsTable(dir_).Load(&table), parlo::PartsResult::kOk);
                std::cout << "round " << round << ": killed " << (killed ? "" : "(had ended) ")
                          << "with " << slots_.size() - left_after_kill << " of " << slots_.size()
                          << " slots deleted; then " << kLong << " long and " << kSingles
                          << " single messages stored once, " << table.m_groups.size()
                          << " messages left in the parts table\n";
            }
        }
    }
}

// Another program deletes or moves the incomplete message while the
// synchronisation that completes it runs (before, during or after the
// completion): the message ends up once, whole, where that program put it
// when it said so, and in the Inbox when it said the message was gone.
TEST_F(ConcatProcsTest, DeletingOrMovingTheIncompleteMessageDuringItsCompletion) {
    int round = 100;
    for (const std::string action : {"delete", "move"}) {
        for (auto delay : {0ms, 150ms, 400ms, 800ms, 1500ms}) {
            ++round;
            SCOPED_TRACE(action + " after " + std::to_string(delay.count()) + " ms");
            NewRound(round, 1, 40, false, {1, 3});
            ASSERT_FALSE(HasFatalFailure());
            std::string out;
            ASSERT_EQ(Run({"folders", "add", "Kept"}, &out), 0) << out;
            ASSERT_EQ(Run({"sync"}, &out), 0) << out;
            ASSERT_EQ(Run({"list", "all"}, &out), 0) << out;
            std::string id;
            if (size_t at = out.find("(incomplete)"); at != std::string::npos) {
                size_t line = out.rfind('\n', at);
                line = line == std::string::npos ? 0 : line + 1;
                id = out.substr(line, out.find(' ', line) - line);
            }
            ASSERT_FALSE(id.empty()) << out;
            // The missing part reaches the SIM, read after the phone memory.
            const std::string text = LongText(round, 1);
            std::vector<std::string> pdus = phonesim::MakeConcatDelivers(
                "+491710760000", "+49170123451", phonesim::Utf8ToUtf16(text), 1, kWhen + 60);
            ASSERT_GT(phone_->AddIncoming("SM", phonesim::BytesToHex(pdus[1]), false), 0);

            Program sync = StartSync("completing");
            std::this_thread::sleep_for(delay);
            std::vector<std::string> args = action == "delete"
                                                ? std::vector<std::string>{"delete", id}
                                                : std::vector<std::string>{"move", "Kept", id};
            std::string other_out;
            const int other = Run(args, &other_out);
            EXPECT_EQ(Finish(sync), 0) << Slurp(sync.out);

            int found = 0;
            for (const parlo::CSmsMessage& m : Records()) {
                if (m.m_strText.find(u"L" + platform::FromUtf8(std::to_string(round))) ==
                    std::u16string::npos)
                    continue;
                ++found;
                EXPECT_EQ(platform::ToUtf8(m.m_strText), text);
                if (other == 0) {
                    EXPECT_EQ(m.m_nState,
                              action == "delete" ? parlo::STATE_DELETED : parlo::STATE_IN_FOLDER)
                        << other_out;
                } else {
                    // The id named the incomplete text: once the message was
                    // completed, it names nothing, and the program says so.
                    EXPECT_TRUE(m.m_nState == parlo::STATE_UNREAD ||
                                m.m_nState == parlo::STATE_READ)
                        << other_out;
                    EXPECT_FALSE(other_out.empty());
                }
            }
            EXPECT_EQ(found, 1);
            std::cout << action << " " << delay.count() << " ms into the run: the other program "
                      << (other == 0 ? "acted" : "found the message changed") << "\n";
        }
    }
}

}  // namespace
