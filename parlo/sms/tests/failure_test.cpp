// Every way a synchronisation run can fail, against the simulated phone:
// what is listed, what is shown, and what the run leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "parlo/sms/tests/engine_fixture.h"
#include "parlo/store/sync_lock.h"

extern char** environ;

namespace parlo::testing {
namespace {

// Command lines the phone receives in a run without configured names: AT,
// AT, AT+CGMI, AT+CGMM, AT+COPS?, AT+CSCA?, then the work.
constexpr int kFirstWorkCommand = 7;
// With one long message first: the first part's AT+CMGS with its PDU (the
// phone counts the two as one command), then the second part's AT+CMGS.
constexpr int kSecondPartCommand = kFirstWorkCommand + 1;
// Without Outbox messages: AT+CPMS="ME", then AT+CMGL=4 (or, refused,
// AT+CMGR=1 and on).
constexpr int kFirstReadCommand = kFirstWorkCommand;

class FailureTest : public EngineTest {
  protected:
    // The listed texts, in order.
    std::vector<std::u16string> Listed() {
        std::vector<std::u16string> out;
        std::u16string text = Engine().m_errors.Text();
        size_t start = 0;
        while (!text.empty()) {
            size_t sep = text.find(kErrorSeparator, start);
            out.push_back(text.substr(start, sep == std::u16string::npos ? sep : sep - start));
            if (sep == std::u16string::npos)
                break;
            start = sep + 5;
        }
        return out;
    }
    std::vector<std::u16string> Texts(std::initializer_list<unsigned> ids) {
        std::vector<std::u16string> out;
        for (unsigned id : ids)
            out.push_back(Error(id));
        return out;
    }
};

TEST_F(FailureTest, UnknownConnectionShowsItsMessageAndFails) {
    settings_.m_strConnection = u"Nowhere";
    ports_ = {ModemEntry{u"Phonesim", u"COM3:", 0}};
    Engine().m_operations.m_bClearPhonePending = 1;
    Engine().m_sync.SynchronizeMessages();
    ASSERT_EQ(prompt_.texts().size(), 1u);
    EXPECT_EQ(prompt_.texts()[0].rfind(Error(IDS_UNKNOWN_CONNECTION), 0), 0u);
    EXPECT_NE(prompt_.texts()[0].find(u"\"Nowhere\" is not a registered modem"),
              std::u16string::npos);
    EXPECT_EQ(Listed(), Texts({IDS_SYNC_FAILED}));
    EXPECT_TRUE(view_.indicator());
    // The wipe order waits for a run that reaches the phone.
    EXPECT_EQ(Engine().m_operations.m_bClearPhonePending, 1);
}

// With no connection name, several modems and none on "COM3:", nothing says
// which one to use: the run stops before opening any and says how to choose.
TEST_F(FailureTest, NoConfiguredConnectionAmongSeveralModemsWithoutCom3) {
    settings_.m_strConnection.clear();
    ports_ = {ModemEntry{u"Phonesim", u"COM4:", 0}, ModemEntry{u"Nokia", u"COM1:", 1}};
    Engine().m_sync.SynchronizeMessages();
    ASSERT_EQ(prompt_.texts().size(), 1u);
    EXPECT_EQ(prompt_.texts()[0].rfind(Error(IDS_UNKNOWN_CONNECTION), 0), 0u);
    EXPECT_NE(prompt_.texts()[0].find(u"'parlo-cli options connection NAME'"),
              std::u16string::npos);
    prompt_.Clear();
    ports_.clear();
    Engine().m_sync.SynchronizeMessages();
    ASSERT_EQ(prompt_.texts().size(), 1u);
    EXPECT_NE(prompt_.texts()[0].find(u"'parlo-cli modem add NAME DEVICE'"), std::u16string::npos);
}

TEST(ChooseConnection, NamedEntryElseCom3ElseTheOnlyModem) {
    const std::vector<ModemEntry> one = {{u"Nokia", u"COM1:", 0}};
    const std::vector<ModemEntry> two = {{u"Nokia", u"COM1:", 0}, {u"Sim", u"COM3:", 1}};
    const std::vector<ModemEntry> two_without_com3 = {{u"Nokia", u"COM1:", 0},
                                                      {u"Sim", u"COM2:", 1}};
    EXPECT_EQ(ChooseConnection(one, u""), &one[0]);
    EXPECT_EQ(ChooseConnection(one, u"Other"), nullptr) << "a chosen name is never replaced";
    EXPECT_EQ(ChooseConnection(two, u""), &two[1]) << "an installation with COM3: keeps it";
    EXPECT_EQ(ChooseConnection(two, u"Nokia"), &two[0]);
    EXPECT_EQ(ChooseConnection(two_without_com3, u""), nullptr);
    EXPECT_EQ(ChooseConnection(two_without_com3, u"Sim"), &two_without_com3[1]);
    EXPECT_EQ(ChooseConnection({}, u""), nullptr);
}

TEST_F(FailureTest, PortThatCannotBeOpened) {
    ports_ = {ModemEntry{u"Phonesim", u"/nonexistent/ttyX", 0}};
    AddRecord(STATE_OUTBOX, u"+491709999999", u"stays");
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), Texts({IDS_NO_PORT, IDS_SYNC_FAILED}));
    EXPECT_EQ(InState(STATE_OUTBOX).size(), 1u);
    EXPECT_EQ(view_.last_status(), u"");
}

TEST_F(FailureTest, UsePortOpensTheUsersPort) {
    StartPhone();
    settings_.m_bUsePort = 1;
    settings_.m_strUserPort = platform::WidenBytes(phone_->device());
    ports_ = {ModemEntry{u"Phonesim", u"/nonexistent/ttyX", 0}};
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
}

TEST_F(FailureTest, SilentPhoneIsReportedAndThePortClosed) {
    StartPhone({"--silence", "1:0"});
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), Texts({IDS_NO_ANSWER, IDS_SYNC_FAILED}));
    // The port was closed: it can be opened again at once.
    EXPECT_EQ(cordis_->OpenPort(platform::WidenBytes(phone_->device())), 1);
    cordis_->ClosePort();
}

TEST_F(FailureTest, ConfiguredModelNotInDatabase) {
    StartPhone();
    settings_.m_strPhoneModel = u"Nokia 9999";
    settings_.m_strProvider = u"T-Mobile D1";
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), Texts({IDS_MODEL_NOT_FOUND}));
}

TEST_F(FailureTest, ConfiguredOperatorNotInDatabase) {
    StartPhone();
    settings_.m_strProvider = u"Nowhere Mobile";
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), Texts({IDS_UNKNOWN_ISP}));
    EXPECT_TRUE(prompt_.texts().empty());
}

TEST_F(FailureTest, DetectedOperatorNotInDatabase) {
    state_["operator"]["name"] = "Faraway Net";
    state_["smsc"]["number"] = "+10000000";
    StartPhone();
    Engine().m_sync.SynchronizeMessages();
    ASSERT_EQ(prompt_.texts().size(), 1u);
    EXPECT_EQ(prompt_.texts()[0], Error(IDS_ISP_NOT_FOUND));
    EXPECT_EQ(Listed(), Texts({IDS_UNKNOWN_ISP}));
}

// A SIM that waits for its PIN, and a phone without network, name no
// operator: the run says so, not that the operator is unknown.
TEST_F(FailureTest, APinOrNoNetworkIsSaidAsSuch) {
    state_["sim"]["pin_enabled"] = true;
    StartPhone();
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(prompt_.texts().empty()) << platform::ToUtf8(prompt_.texts()[0]);
    std::vector<std::u16string> listed = Listed();
    ASSERT_EQ(listed.size(), 1u) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(listed[0].rfind(u"The SIM card asks for its PIN", 0), 0u);

    phone_.reset();
    state_["sim"]["pin_enabled"] = false;
    state_["operator"]["registered"] = false;
    StartPhone();
    Engine().m_sync.SynchronizeMessages();
    listed = Listed();
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed[0].rfind(u"The phone is not registered with a mobile network", 0), 0u)
        << platform::ToUtf8(listed[0]);
    EXPECT_NE(listed[0], Error(IDS_UNKNOWN_ISP));
}

TEST_F(FailureTest, ConfiguredModelAndOperatorSkipTheInquiries) {
    StartPhone();
    PhoneModelRecord model;
    model.m_strName = u"Generic GSM AT modem";
    model.m_nStorageSize = 20;
    phones_.push_back(model);
    settings_.m_strPhoneModel = model.m_strName;
    settings_.m_strProvider = u"T-Mobile D1";
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(Engine().m_session.PhoneModel().m_strName, model.m_strName);
    EXPECT_EQ(Engine().m_session.SmsCentre(), u"+491710760000");
}

TEST_F(FailureTest, OwnSmsCentreNumberIsUsed) {
    StartPhone();
    settings_.m_bOwnSmsCentre = 1;
    settings_.m_strSmsCentre = u"+4912345";
    AddRecord(STATE_OUTBOX, u"+491709999999", u"own centre");
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    CPduMessage sent;
    ASSERT_GE(
        CPduCodec::ParseSubmitPdu(PhoneState()["sms"]["sent"][0]["pdu"].get<std::string>(), &sent),
        0);
    EXPECT_EQ(sent.m_strSmsc, "+4912345");
}

TEST_F(FailureTest, LockHeldByTheDialUpProgram) {
    StartPhone();
    const char* bin = std::getenv("SKYVANE_BIN_DIR");
    std::filesystem::path connect = std::filesystem::path(bin ? bin : ".") / "connect";
    ASSERT_TRUE(std::filesystem::exists(connect)) << connect;
    std::string program = connect.string();
    char arg_s[] = "s", arg_secs[] = "--seconds", arg_n[] = "60";
    char* argv[] = {program.data(), arg_s, arg_secs, arg_n, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    // Wait until it holds the lock.
    bool held = false;
    for (int i = 0; i < 600 && !held; ++i) {
        CSyncLock probe;
        if (probe.Acquire(dir_))
            probe.Release(), std::this_thread::sleep_for(std::chrono::milliseconds(50));
        else
            held = true;
    }
    ASSERT_TRUE(held);
    AddRecord(STATE_OUTBOX, u"+491709999999", u"not now");
    Engine().m_sync.SynchronizeMessages();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(Listed(), Texts({IDS_CONNECTION_ACTIVE}));
    EXPECT_EQ(SentCount(), 0u);
    EXPECT_EQ(InState(STATE_OUTBOX).size(), 1u);
}

TEST_F(FailureTest, FailedPartKeepsTheLongMessageInTheOutbox) {
    // The phone does not answer the second part's "AT+CMGS" (the command
    // times out).
    StartPhone({"--silence", std::to_string(kSecondPartCommand) + ":1"});
    std::u16string long_text(200, u'x');
    CSmsMessage* first = AddRecord(STATE_OUTBOX, u"+491708888888", long_text);
    CSmsMessage* second = AddRecord(STATE_OUTBOX, u"+491709999999", u"after it");
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), Texts({IDS_SEND_FAILED}));
    EXPECT_EQ(first->m_nState, STATE_OUTBOX);
    EXPECT_EQ(second->m_nState, STATE_SENT);
    EXPECT_EQ(SentCount(), 2u);  // part 1 and the short message

    // The next run sends the whole text again.
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(first->m_nState, STATE_SENT);
    EXPECT_EQ(SentCount(), 4u);
}

TEST_F(FailureTest, StorageWithoutASizeNeedsTheModelsSize) {
    state_["sms"]["storages"]["ME"] = StorageJson(0, {});
    StartPhone();
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), Texts({IDS_NO_MEMORY_SIZE, IDS_SYNC_FAILED}));
}

TEST_F(FailureTest, LineDroppedWhileReading) {
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{1, 0, DeliverPdu("+491701111111", "Hello")}});
    // The line goes when the SIM is selected, after the phone memory was
    // listed (and its message marked read on the phone).
    StartPhone({"--drop", std::to_string(kFirstReadCommand + 2)});
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), Texts({IDS_COMM_ERROR, IDS_SYNC_FAILED}));
    // What was read is stored, unread as it was.
    ASSERT_EQ(store_->Count(), 1u);
    EXPECT_EQ(InState(STATE_UNREAD).size(), 1u);
}

TEST_F(FailureTest, SkippedStorageAndSlotsAreListedWithTheirReason) {
    // The SIM cannot be selected (the phone has none), the phone memory holds
    // an undecodable PDU and a message in a slot the phone refuses to read;
    // the phone lists nothing, so every slot is read by itself.
    state_["sms"]["storages"] = {
        {"ME", StorageJson(4, {{1, 0, DeliverPdu("+491701111111", "Hello")},
                               {2, 1, "07911326040000F0040B911346610089F6000020"},
                               {3, 1, DeliverPdu("+491701111111", "Refused")}})}};
    state_["sms"]["preferred"] = {"ME", "ME", "ME"};
    StartPhone({"--cmgl", "error", "--garbage",
                std::to_string(kFirstReadCommand + 4) +
                    ":0D0A2B434D53204552524F523A203331340D0A:replace"});
    settings_.m_bDeleteAfterSync = 1;
    Engine().m_sync.SynchronizeMessages();
    std::vector<std::u16string> listed = Listed();
    ASSERT_EQ(listed.size(), 4u) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(listed[0], u"ME slot 2 was not read: the message cannot be decoded.");
    EXPECT_EQ(listed[1], u"ME slot 3 was not read: the phone answered +CMS ERROR: 314.");
    EXPECT_EQ(listed[2],
              Engine().m_errors.Format(IDS_STORAGE_SHORT, {u"phone memory (ME)", u"3", u"2"}));
    EXPECT_EQ(listed[3],
              u"The SIM (SM) could not be selected (+CMS ERROR: 302): its messages were not read.");
    // What was read is stored and deleted; the rest stays on the phone.
    EXPECT_EQ(InState(STATE_UNREAD).size(), 1u);
    EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{2, 3}));
}

// A send whose answer comes after the wait: the message may have gone out.
TEST_F(FailureTest, SendAnsweredTooLateIsHeldNotSentAgain) {
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{1, 0, DeliverPdu("+491701111111", "Read me after the send")}});
    StartPhone({"--send-ms", "2500"});
    Engine().m_operations.SetSendAnswerSecondsForTesting(1);
    CSmsMessage* msg = AddRecord(STATE_OUTBOX, u"+491709999999", u"slow network");
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), std::vector<std::u16string>{
                            Engine().m_errors.Format(IDS_FATE_UNKNOWN, {u"+491709999999"})});
    EXPECT_EQ(msg->m_nState, STATE_OUTBOX);
    EXPECT_EQ(msg->m_nPhoneIndex, kFateUnknownIndex);
    EXPECT_EQ(SentCount(), 1u);
    // The late answer was not taken for the storage selection: the phone
    // memory was read.
    EXPECT_EQ(InState(STATE_UNREAD).size(), 1u);
    // The mark is in the store file.
    CMessageStore reloaded(dir_);
    ASSERT_EQ(reloaded.LoadMessages(), StoreResult::kOk);
    EXPECT_EQ(reloaded.Snapshot()[0]->m_nPhoneIndex, kFateUnknownIndex);

    // The next run does not send it again and says why.
    Engine().m_operations.SetSendAnswerSecondsForTesting(kSendAnswerSeconds);
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), std::vector<std::u16string>{
                            Engine().m_errors.Format(IDS_HELD_IN_OUTBOX, {u"+491709999999"})});
    EXPECT_EQ(SentCount(), 1u);

    // Released, it goes out, and the phone's message reference is kept.
    store_->Change(msg, [](CSmsMessage& m) { m.m_nPhoneIndex = -1; });
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(msg->m_nState, STATE_SENT);
    ASSERT_EQ(SentCount(), 2u);
    EXPECT_EQ(msg->m_nPhoneIndex, PhoneState()["sms"]["sent"][1]["reference"].get<int>());
}

TEST_F(FailureTest, SecondSynchronisationIsNoDialUpConnection) {
    StartPhone();
    CSyncLock other;  // a synchronisation of another program
    ASSERT_TRUE(other.Acquire(dir_));
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Listed(), Texts({IDS_SYNC_RUNNING}));
    other.Release();
    EXPECT_FALSE(CSyncLock::HeldBySync(dir_));
}

}  // namespace
}  // namespace parlo::testing
