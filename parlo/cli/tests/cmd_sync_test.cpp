// parlo-cli sync, send and clear-sim against the simulated phone registered
// as the modem of a scratch installation.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "parlo/cli/cli.h"
#include "parlo/store/message_store.h"
#include "platform/exclusive_file.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace cli {
int CmdSync(Context& ctx);
int CmdSend(Context& ctx);
int CmdClearSim(Context& ctx);
int CmdOptions(Context& ctx);
}  // namespace cli

namespace {

struct CmdRun {
    int status;
    std::string out;
    std::string err;
    std::vector<std::u16string> prompts;
};

class CmdSyncTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("cmd_sync_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        setenv("SKYVANE_HOME", dir_.c_str(), 1);
        setenv("SKYVANE_ROOT", dir_.c_str(), 1);
    }
    void TearDown() override {
        phone_.reset();
        if (!HasFailure())
            std::filesystem::remove_all(dir_);
    }
    void StartPhone(const std::string& operator_name = "T-Mobile D") {
        nlohmann::json state = phonesim::testing::DefaultState();
        state["operator"]["name"] = operator_name;
        state["sms"]["storages"]["SM"]["slots"] = {
            {{"index", 1},
             {"status", 1},
             {"pdu", phonesim::testing::MakeDeliverPdu("+491701234567", "On the SIM")}}};
        ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", state));
        phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
        ASSERT_TRUE(phone_->Start(
            dir_ / "phone.json", {"--register", "Phonesim", "--alias", "COM3:", "--send-ms", "0"}));
    }
    CmdRun Run(int (*fn)(cli::Context&), std::vector<std::string> args, bool yes = true) {
        std::ostringstream out, err;
        platform::ScriptedPrompt prompt;
        prompt.SetDefault(yes ? platform::Answer::Ok : platform::Answer::Cancel);
        cli::Context ctx{std::move(args), dir_, yes, !yes, out, err, prompt};
        int status = fn(ctx);
        return {status, out.str(), err.str(), prompt.texts()};
    }

    std::filesystem::path dir_;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone_;
};

// A message that cannot be stored is never reported as queued.
TEST_F(CmdSyncTest, SendThatCannotStoreFailsAndSaysSo) {
    CmdRun send = Run(cli::CmdSend, {"+491701111111;+491702222222", std::string(70000, 'x')});
    EXPECT_EQ(send.status, cli::kFailed);
    EXPECT_EQ(send.out.find("Queued"), std::string::npos) << send.out;
    EXPECT_NE(send.err.find("+491702222222 could not be stored and is not queued"),
              std::string::npos)
        << send.err;
}

TEST_F(CmdSyncTest, SendQueuesOneMessagePerNumberAndSyncSendsThem) {
    StartPhone();
    CmdRun send = Run(cli::CmdSend, {"+491701111111;+491702222222", "Hello there"});
    EXPECT_EQ(send.status, cli::kOk) << send.err;
    EXPECT_NE(send.out.find("Queued 2 messages"), std::string::npos) << send.out;
    EXPECT_EQ(phone_->ReadState()["sms"]["sent"].size(), 0u);

    CmdRun sync = Run(cli::CmdSync, {});
    EXPECT_EQ(sync.status, cli::kOk) << sync.err;
    EXPECT_NE(sync.out.find("Synchronizing..."), std::string::npos);
    EXPECT_NE(sync.out.find("new [Inbox] +491701234567: On the SIM"), std::string::npos)
        << sync.out;
    EXPECT_EQ(phone_->ReadState()["sms"]["sent"].size(), 2u);

    // Once more: nothing is sent or read twice.
    sync = Run(cli::CmdSync, {});
    EXPECT_EQ(sync.status, cli::kOk) << sync.err;
    EXPECT_EQ(sync.out.find("new ["), std::string::npos) << sync.out;
    EXPECT_EQ(phone_->ReadState()["sms"]["sent"].size(), 2u);
}

TEST_F(CmdSyncTest, SendWithSyncAndThePushOption) {
    StartPhone();
    CmdRun send = Run(cli::CmdSend, {"+491701111111", "Flash", "--push", "--sync"});
    EXPECT_EQ(send.status, cli::kOk) << send.err;
    ASSERT_EQ(phone_->ReadState()["sms"]["sent"].size(), 1u);
}

TEST_F(CmdSyncTest, SendTellsHowManyMessagesAndWhichCoding) {
    StartPhone();
    auto said = [this](const std::string& text) {
        CmdRun r = Run(cli::CmdSend, {"+491701111111", text});
        EXPECT_EQ(r.status, cli::kOk) << r.err;
        return r.out;
    };
    EXPECT_NE(said("\xD0\x9F\xD1\x80\xD0\xB8").find("It goes out as 1 SMS in UCS2.\n"),
              std::string::npos);
    EXPECT_NE(said(std::string(155, 'a'))
                  .find("It goes out as 2 SMS in GSM 7-bit, parts numbered \"1/2:\".\n"),
              std::string::npos);
    EXPECT_NE(said("5 \xE2\x82\xAC").find("1 SMS in GSM 7-bit with extension characters.\n"),
              std::string::npos);

    CmdRun opt = Run(cli::CmdOptions, {"concatenated", "on"});
    EXPECT_EQ(opt.status, cli::kOk) << opt.err;
    EXPECT_NE(opt.out.find("concatenated       on\n"), std::string::npos) << opt.out;
    EXPECT_NE(said(std::string(160, 'b')).find("It goes out as 1 SMS in GSM 7-bit.\n"),
              std::string::npos);
    EXPECT_NE(said(std::string(161, 'c'))
                  .find("It goes out as 2 SMS in GSM 7-bit, shown as one message.\n"),
              std::string::npos);

    // The synchronisation sends with the stored setting: the last text
    // arrives as one message of two parts.
    CmdRun sync = Run(cli::CmdSync, {});
    EXPECT_EQ(sync.status, cli::kOk) << sync.err;
    nlohmann::json delivered = phone_->ReadState()["sms"]["delivered"];
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered.back()["text"], std::string(161, 'c'));
    EXPECT_EQ(delivered.back()["parts"], 2);
    // The 155-character text queued before the change fits one message now.
    EXPECT_EQ(phone_->ReadState()["sms"]["sent"].size(), 1u + 1u + 1u + 1u + 2u);
}

TEST_F(CmdSyncTest, ErrorsAreListedAndTheStatusIsNonZero) {
    StartPhone("Faraway Net");
    CmdRun sync = Run(cli::CmdSync, {});
    EXPECT_EQ(sync.status, cli::kFailed);
    EXPECT_NE(sync.err.find("Unknown ISP."), std::string::npos) << sync.err;
    // What it means and how the run can go on.
    EXPECT_NE(sync.err.find("not in the device database"), std::string::npos) << sync.err;
    EXPECT_NE(sync.err.find("parlo-cli options use-smsc on smsc"), std::string::npos) << sync.err;
}

TEST_F(CmdSyncTest, ASecondSynchronisationSaysWhoHoldsThePhone) {
    StartPhone();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        platform::ExclusiveFile lock;
        char c = lock.Open(dir_ / "vok.lock") ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    CmdRun sync = Run(cli::CmdSync, {});
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    ASSERT_EQ(c, 'y');
    EXPECT_EQ(sync.status, cli::kFailed);
    EXPECT_NE(sync.err.find("(process " + std::to_string(holder) + ")"), std::string::npos)
        << sync.err;
    EXPECT_NE(sync.err.find("holds vok.lock"), std::string::npos) << sync.err;
    EXPECT_EQ(phone_->ReadState()["sms"]["sent"].size(), 0u);
}

TEST_F(CmdSyncTest, SendCleansTypedNumbersAndRefusesOnesThatCanNeverBeSent) {
    CmdRun send = Run(cli::CmdSend, {"+49 (170) 111-1111; 0172 22 22", "Hello"});
    EXPECT_EQ(send.status, cli::kOk) << send.err;
    EXPECT_NE(send.out.find("Queued a message to +491701111111 in the Outbox."), std::string::npos)
        << send.out;
    EXPECT_NE(send.out.find("Queued a message to 01722222 in the Outbox."), std::string::npos)
        << send.out;

    // Refused at once, and nothing of the command is queued.
    for (const char* bad : {"+49170111;0800-CALL-ME", "(-)", "+"}) {
        CmdRun r = Run(cli::CmdSend, {bad, "Hello"});
        EXPECT_EQ(r.status, cli::kFailed) << bad;
        EXPECT_NE(r.err.find("nothing was queued"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Queued"), std::string::npos) << r.out;
    }
    parlo::CMessageStore store(dir_);
    ASSERT_EQ(store.LoadMessages(), parlo::StoreResult::kOk);
    std::vector<std::u16string> numbers;
    for (auto* m : store.Snapshot())
        numbers.push_back(m->m_strNumber);
    EXPECT_EQ(numbers, (std::vector<std::u16string>{u"+491701111111", u"01722222"}));
}

TEST_F(CmdSyncTest, WithoutAModemSyncFailsAndSendStillQueues) {
    CmdRun sync = Run(cli::CmdSync, {});
    EXPECT_EQ(sync.status, cli::kFailed);
    CmdRun send = Run(cli::CmdSend, {"+491701111111", "Later"});
    EXPECT_EQ(send.status, cli::kOk) << send.err;
    EXPECT_EQ(Run(cli::CmdSend, {"+491701111111"}).status, cli::kUsage);
    EXPECT_EQ(Run(cli::CmdSend, {";", "text"}).status, cli::kUsage);
}

TEST_F(CmdSyncTest, ClearSimWipesOnlyWhenConfirmed) {
    StartPhone();
    EXPECT_EQ(Run(cli::CmdClearSim, {}, false).status, cli::kOk);
    EXPECT_EQ(phone_->ReadState()["sms"]["storages"]["SM"]["slots"].size(), 1u);
    CmdRun clear = Run(cli::CmdClearSim, {});
    EXPECT_EQ(clear.status, cli::kOk) << clear.err;
    // The console has no toolbar to speak of.
    ASSERT_EQ(clear.prompts.size(), 2u);
    EXPECT_EQ(clear.prompts[1].find(u"toolbar"), std::u16string::npos);
    EXPECT_EQ(phone_->ReadState()["sms"]["storages"]["SM"]["slots"].size(), 0u);
}

// How often vok.sms.lock was closed after writing since the last call.
int LogCloses(int watch) {
    int n = 0;
    alignas(inotify_event) char buf[16384];
    ssize_t got;
    while ((got = read(watch, buf, sizeof buf)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            if (e->len > 0 && std::string_view(e->name) == "vok.sms.lock")
                ++n;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    return n;
}

// The CPU time (user and system, in clock ticks) of a process so far.
long CpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    size_t at = stat.rfind(')');
    if (at == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(at + 2));
    std::string f;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14)
            utime = std::stol(f);
        if (i == 15)
            stime = std::stol(f);
    }
    return utime + stime;
}

// autosync waits between runs; a message that another program queues
// meanwhile is sent by the next run, once, and the waiting program does not
// write an old picture of the store over it. The interval is one minute.
// As a service runs it (--log, stopped with SIGTERM as soon as the phone has
// sent, mostly while the run still reads the phone), the run ends first and
// is reported in one line.
TEST_F(CmdSyncTest, AutosyncSendsWhatAnotherProgramQueuedWhileItWaited) {
    StartPhone();
    const std::filesystem::path log = dir_ / "autosync.out";
    std::string program = (platform::BinDir() / "parlo-cli").string();
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "--no", "autosync", "--interval", "1", "--log",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    auto output = [&] {
        std::ifstream in(log);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto wait_for = [](const std::function<bool()>& done, int seconds) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    };
    bool waiting = wait_for(
        [&] {
            return output().find("Automatic synchronisation every 1 minute") != std::string::npos;
        },
        60);

    // Taking in what another program changed must not wake the waiting
    // program again: over a quiet stretch after the send, the log is hardly
    // written to (a spinning program closes it thousands of times a second).
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir_.c_str(), IN_CLOSE_WRITE), 0);
    CmdRun send = Run(cli::CmdSend, {"+491701111111", "Queued while it waited"});
    EXPECT_EQ(send.status, cli::kOk) << send.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    LogCloses(watch);  // the send's own, and the take-in it caused
    const long cpu_before = CpuTicks(pid);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const int closes = LogCloses(watch);
    const long cpu = CpuTicks(pid) - cpu_before;
    close(watch);
    std::cout << "idle autosync after a foreign change: " << closes
              << " closes of vok.sms.lock and " << cpu << " CPU ticks in 2 s\n";
    EXPECT_LE(closes, 2);
    bool sent =
        waiting && wait_for([&] { return phone_->ReadState()["sms"]["sent"].size() >= 1; }, 240);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(waiting) << output();
    ASSERT_TRUE(sent) << output();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output();
    EXPECT_EQ(phone_->ReadState()["sms"]["sent"].size(), 1u);
    const std::string said = output();
    EXPECT_NE(said.find("\nrun 1: sent 1, received "), std::string::npos) << said;
    EXPECT_EQ(said.find("AS: "), std::string::npos) << "no countdown in the log: " << said;

    parlo::CMessageStore store(dir_);
    ASSERT_EQ(store.LoadMessages(), parlo::StoreResult::kOk);
    int copies = 0;
    store.ForEach([&](parlo::CSmsMessage& m) {
        if (m.m_strText == u"Queued while it waited") {
            ++copies;
            EXPECT_EQ(m.m_nState, parlo::STATE_SENT);
        }
    });
    EXPECT_EQ(copies, 1);
}

}  // namespace
