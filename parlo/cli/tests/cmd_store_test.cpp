// The store, folder, device database, modem and options commands on a
// scratch installation without a modem.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/cli/cli.h"
#include "parlo/cli/store_cli.h"
#include "parlo/contacts/groups.h"
#include "parlo/contacts/phonebook.h"
#include "parlo/sms/sms_joiner.h"
#include "parlo/store/device_db.h"
#include "parlo/store/message_ids.h"
#include "parlo/store/parts_table.h"
#include "parlo/store/tests/test_util.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/registry.h"
#include "platform/testing/faulty_env.h"

namespace cli {
int CmdList(Context& ctx);
int CmdShow(Context& ctx);
int CmdRead(Context& ctx);
int CmdDelete(Context& ctx);
int CmdMove(Context& ctx);
int CmdEmptyRecycleBin(Context& ctx);
int CmdFolders(Context& ctx);
int CmdDeviceDb(Context& ctx);
int CmdModem(Context& ctx);
int CmdOptions(Context& ctx);
int CmdStore(Context& ctx);
}  // namespace cli

namespace {

using platform::Answer;

struct CmdRun {
    int status;
    std::string out;
    std::string err;
};

class CliStoreTest : public ::testing::Test {
  protected:
    parlo::testing::TempDir dir;
    parlo::testing::TempDir bin;
    platform::ScriptedPrompt prompt;

    void SetUp() override {
        setenv("SKYVANE_HOME", dir.path().c_str(), 1);
        setenv("SKYVANE_ROOT", dir.path().c_str(), 1);
        setenv("SKYVANE_BIN_DIR", bin.path().c_str(), 1);
        std::string db =
            "*h\r\n#Nokia#6310i#9600#8#0#0#16#Z#Z#####Nokia#6310i#0####\r\n*p\r\n"
            "#Net#############+49#######\r\n*";
        parlo::ScrambleDeviceDb(&db);
        parlo::testing::WriteFile(bin / "vok.dat", db);
    }

    CmdRun Do(int (*fn)(cli::Context&), std::vector<std::string> args) {
        std::ostringstream out, err;
        cli::Context ctx{std::move(args), dir.path(), false, false, out, err, prompt};
        int status = fn(ctx);
        return {status, out.str(), err.str()};
    }

    // Three Inbox messages, a draft and a template, written by the document.
    void Fill() {
        parlo::NullParloView view;
        parlo::CParloDoc doc(&view, &prompt);
        parlo::StartOptions opt;
        opt.require_ports = false;
        ASSERT_TRUE(doc.Start(nullptr, opt));
        doc.AddReceived(parlo::STATE_UNREAD, u"+491701", u"first\r\nline two", {45000.5, 0},
                        parlo::STORAGE_PHONE, 1);
        doc.AddReceived(parlo::STATE_READ, u"+491702", u"second", {45001.5, 0}, parlo::STORAGE_SIM,
                        2);
        doc.AddReceived(parlo::STATE_READ, u"+491703", u"third", {45002.5, 0}, parlo::STORAGE_SIM,
                        3);
        doc.AddDraft(u"+4930", u"a draft");
        doc.AddTemplate(u"a template");
    }

    // The id that 'parlo-cli list' shows for record n (1-based, store order).
    std::string Id(size_t n) {
        parlo::CMessageStore store(dir.path());
        store.LoadMessages();
        std::vector<parlo::CSmsMessage*> list = store.Snapshot();
        if (n < 1 || n > list.size()) {
            ADD_FAILURE() << "the store has " << list.size() << " records, not " << n;
            return "none";
        }
        return parlo::CMessageIds(list).IdOf(list[n - 1]);
    }

    std::vector<int32_t> States() {
        parlo::CMessageStore store(dir.path());
        store.LoadMessages();
        std::vector<int32_t> out;
        for (auto* m : store.Snapshot())
            out.push_back(m->m_nState);
        return out;
    }
    // The state of record i (0-based); a failure, not a crash, when the store
    // has fewer records.
    int32_t StateOf(size_t i) {
        std::vector<int32_t> all = States();
        if (i >= all.size()) {
            ADD_FAILURE() << "the store has " << all.size() << " records, not " << i + 1;
            return -1;
        }
        return all[i];
    }
    // The last message shown, or "" when there was none.
    std::u16string LastPrompt() {
        if (prompt.texts().empty()) {
            ADD_FAILURE() << "no message was shown";
            return u"";
        }
        return prompt.texts().back();
    }
};

TEST_F(CliStoreTest, StoreCommandsWorkWithoutAModem) {
    CmdRun r = Do(cli::CmdList, {});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_TRUE(prompt.texts().empty());
    Fill();
    r = Do(cli::CmdList, {"inbox"});
    EXPECT_EQ(r.status, cli::kOk);
    EXPECT_NE(r.out.find(Id(1) + "  unread"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("first line two"), std::string::npos);
    EXPECT_NE(r.out.find("+491703"), std::string::npos);
    EXPECT_EQ(r.out.find("a draft"), std::string::npos);
    r = Do(cli::CmdList, {"Templates"});
    EXPECT_NE(r.out.find(Id(5) + "  template"), std::string::npos) << r.out;
    EXPECT_EQ(Do(cli::CmdList, {"nowhere"}).status, cli::kFailed);

    r = Do(cli::CmdShow, {Id(1)});
    EXPECT_NE(r.out.find("first\r\nline two"), std::string::npos);
    EXPECT_NE(r.out.find("phone memory (ME)"), std::string::npos);
    EXPECT_EQ(Do(cli::CmdShow, {"99"}).status, cli::kFailed);

    EXPECT_EQ(Do(cli::CmdRead, {Id(1)}).status, cli::kOk);
    EXPECT_EQ(StateOf(0), parlo::STATE_READ);
}

TEST_F(CliStoreTest, DeleteModesAndTheRecycleBin) {
    Fill();
    EXPECT_EQ(Do(cli::CmdDelete, {"--phone", Id(1)}).status, cli::kOk);
    EXPECT_EQ(States(), (std::vector<int32_t>{0, 1, 1, 6, 7, 10}));
    EXPECT_EQ(Do(cli::CmdDelete, {Id(2), Id(4)}).status, cli::kOk);
    EXPECT_EQ(States(), (std::vector<int32_t>{0, 1 + 8, 1, 9, 7, 10}));

    // In the Recycle Bin: the question decides.
    prompt.Push(Answer::Cancel);
    EXPECT_EQ(Do(cli::CmdDelete, {Id(2)}).status, cli::kFailed);
    EXPECT_EQ(LastPrompt(), u"You are going to purge 1 selected message(s) from this computer.");
    EXPECT_EQ(StateOf(1), parlo::STATE_DELETED);
    prompt.Push(Answer::Ok);
    EXPECT_EQ(Do(cli::CmdDelete, {Id(2)}).status, cli::kOk);
    EXPECT_EQ(StateOf(1), parlo::STATE_PURGED);

    prompt.Push(Answer::No);
    EXPECT_EQ(Do(cli::CmdEmptyRecycleBin, {}).status, cli::kFailed);
    prompt.Push(Answer::Yes);
    EXPECT_EQ(Do(cli::CmdEmptyRecycleBin, {}).status, cli::kOk);
    EXPECT_EQ(States(), (std::vector<int32_t>{0, 1, 7, 10}));
    EXPECT_EQ(Do(cli::CmdDelete, {Id(4)}).status, cli::kFailed);  // a hidden order
}

TEST_F(CliStoreTest, FoldersAndMoving) {
    Fill();
    EXPECT_EQ(Do(cli::CmdFolders, {"add", "  Work  "}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdFolders, {"add", "Inbox"}).status, cli::kFailed);
    EXPECT_EQ(LastPrompt(), u"The folder already exists.");
    EXPECT_EQ(Do(cli::CmdMove, {"Work", Id(2), Id(3)}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdMove, {"Inbox", Id(4)}).status, cli::kOk);
    EXPECT_EQ(States(), (std::vector<int32_t>{0, 20, 20, 1, 7}));
    CmdRun r = Do(cli::CmdFolders, {"list"});
    EXPECT_NE(r.out.find("    1         2  Work"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" 2001         2  Inbox"), std::string::npos) << r.out;
    r = Do(cli::CmdList, {"work"});
    EXPECT_NE(r.out.find("folder Work"), std::string::npos);

    EXPECT_EQ(Do(cli::CmdFolders, {"rename", "Work", "Job"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdFolders, {"rename", "Inbox", "x"}).status, cli::kFailed);
    prompt.Push(Answer::Yes);
    EXPECT_EQ(Do(cli::CmdFolders, {"delete", "Job"}).status, cli::kOk);
    EXPECT_EQ(States(), (std::vector<int32_t>{0, 1, 7}));  // purged and compacted
    platform::Registry reg = platform::Registry::Device();
    EXPECT_FALSE(reg.QueryString(platform::Hive::CurrentUser, platform::kProfileKey, "I0"));
}

// An installation whose registry cannot be written: the folder commands say
// so, fail, and change nothing.
TEST_F(CliStoreTest, FolderCommandsThatCannotWriteTheRegistryFail) {
    Fill();
    ASSERT_EQ(Do(cli::CmdFolders, {"add", "Work"}).status, cli::kOk);
    {
        platform::testing::FaultyEnv env;
        env.FailNth(platform::testing::FaultyEnv::Op::kRename, 1);
        CmdRun add = Do(cli::CmdFolders, {"add", "Private"});
        EXPECT_EQ(add.status, cli::kFailed);
        EXPECT_EQ(add.out.find("added"), std::string::npos) << add.out;
        EXPECT_EQ(LastPrompt(), u"Access to registers failed.");
        env.FailNth(platform::testing::FaultyEnv::Op::kRename, 1);
        EXPECT_EQ(Do(cli::CmdFolders, {"rename", "Work", "Job"}).status, cli::kFailed);
    }
    CmdRun r = Do(cli::CmdFolders, {"list"});
    EXPECT_NE(r.out.find("Work"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Job"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Private"), std::string::npos) << r.out;
}

TEST_F(CliStoreTest, DeviceDatabasePackUnpackCheck) {
    parlo::testing::WriteFile(dir / "src.txt",
                              "; comment\n*Phones\n#A#B#9600#8#0#0#16#Z#Z#####A#B#0####\n"
                              "*Providers\n#Net#############+49#######\n*\n");
    CmdRun r = Do(cli::CmdDeviceDb, {"pack", (dir / "src.txt").string(), (dir / "x.dat").string()});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find("1 phone models, 1 providers"), std::string::npos);
    r = Do(cli::CmdDeviceDb, {"check", (dir / "x.dat").string()});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    r = Do(cli::CmdDeviceDb, {"unpack", (dir / "x.dat").string(), "-"});
    EXPECT_NE(r.out.find("#A#B#9600#"), std::string::npos);

    std::string bytes = parlo::testing::ReadFile(dir / "x.dat");
    parlo::testing::WriteFile(dir / "cut.dat", bytes.substr(0, 20));
    r = Do(cli::CmdDeviceDb, {"check", (dir / "cut.dat").string()});
    EXPECT_EQ(r.status, cli::kFailed);
    EXPECT_NE(r.err.find("Corrupted data file. -"), std::string::npos) << r.err;
    r = Do(cli::CmdDeviceDb, {"check", (dir / "none.dat").string()});
    EXPECT_NE(r.err.find("Can not open data file. (vok.dat)"), std::string::npos);
    // Without a file: the one the client reads (here the shipped one).
    EXPECT_EQ(Do(cli::CmdDeviceDb, {"check"}).status, cli::kOk);
    parlo::testing::WriteFile(dir / "bad.txt", "*h\n#x");
    EXPECT_EQ(
        Do(cli::CmdDeviceDb, {"pack", (dir / "bad.txt").string(), (dir / "y").string()}).status,
        cli::kFailed);
}

TEST_F(CliStoreTest, ModemsAndOptions) {
    CmdRun r = Do(cli::CmdModem, {"list"});
    EXPECT_NE(r.out.find("parlo-cli modem add"), std::string::npos);
    EXPECT_EQ(Do(cli::CmdModem, {"add", "Cable", "COM3:"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdModem, {"add", "Cable", "COM4:"}).status, cli::kFailed);
    r = Do(cli::CmdModem, {"list"});
    EXPECT_NE(r.out.find("Cable"), std::string::npos);
    EXPECT_NE(r.out.find("(offered as a port)"), std::string::npos) << r.out;
    EXPECT_EQ(Do(cli::CmdModem, {"remove", "Cable"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdModem, {"remove", "Cable"}).status, cli::kFailed);

    r = Do(cli::CmdOptions, {});
    EXPECT_NE(r.out.find("auto-sync          off"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("interval           10"), std::string::npos);
    r = Do(cli::CmdOptions, {"auto-sync", "on", "interval", "30", "use-port", "on", "port",
                             "com5:", "phonebook", "sim", "delete-after-sync", "on"});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    parlo::NullParloView view;
    parlo::CParloDoc doc(&view, &prompt);
    doc.LoadSettings();
    doc.LoadPhonebookSettings();
    EXPECT_EQ(Inside(doc).m_settings.m_bAutoSync, 1);
    EXPECT_EQ(Inside(doc).m_settings.m_nAutoSyncInterval, 30);
    EXPECT_EQ(Inside(doc).m_settings.m_strUserPort, u"COM5:");
    EXPECT_EQ(Inside(doc).m_settings.m_nPhonebookFlags, parlo::PB_SIM);
    EXPECT_EQ(Inside(doc).m_settings.m_bDeleteAfterSync, 1);
    EXPECT_EQ(Do(cli::CmdOptions, {"interval", "1"}).status, cli::kFailed);
    EXPECT_EQ(LastPrompt(), u"Please enter a number between %1 and %2.");
    EXPECT_EQ(Do(cli::CmdOptions, {"use-smsc", "on"}).status, cli::kFailed);
    EXPECT_EQ(Do(cli::CmdOptions, {"use-smsc", "on", "smsc", "+491722270333"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdOptions, {"colour", "red"}).status, cli::kUsage);
}

TEST(CliOneLine, CutsAtFiftyCharactersAndJoinsLines) {
    const std::u16string fifty(50, u'x');
    EXPECT_EQ(cli::OneLine(fifty, 50), std::string(50, 'x'));
    EXPECT_EQ(cli::OneLine(fifty + u"y", 50), std::string(47, 'x') + "...");
    EXPECT_EQ(cli::OneLine(fifty + u"y", 0), std::string(50, 'x') + "y");
    EXPECT_EQ(cli::OneLine(u"", 50), "");
    // Line breaks become one blank; a blank before a break is not doubled.
    EXPECT_EQ(cli::OneLine(u"one\r\ntwo \nthree\n\nfour", 50), "one two three four");
    // The cut counts the joined line, not the text.
    std::u16string broken = u"ab\r\n" + std::u16string(47, u'c');
    EXPECT_EQ(cli::OneLine(broken, 50), "ab " + std::string(47, 'c'));
    EXPECT_EQ(cli::OneLine(broken + u"d", 50), "ab " + std::string(44, 'c') + "...");
    // Other characters than ASCII, before and after the cut.
    EXPECT_EQ(cli::OneLine(u"gr\u00fc\u00df dich", 50), "gr\xC3\xBC\xC3\x9F dich");
    EXPECT_EQ(cli::OneLine(std::u16string(49, u'x') + u"\u20ac\u20ac", 50),
              std::string(47, 'x') + "...");
    EXPECT_EQ(cli::OneLine(std::u16string(46, u'x') + u"\u20ac\u20acxxx", 50),
              std::string(46, 'x') + "\xE2\x82\xAC...");
}

TEST_F(CliStoreTest, ListColumnsStayAlignedForLongStatesAndFolders) {
    Fill();
    ASSERT_EQ(Do(cli::CmdFolders, {"add", "Correspondence with the landlord"}).status, cli::kOk);
    ASSERT_EQ(Do(cli::CmdMove, {"Correspondence with the landlord", Id(2)}).status, cli::kOk);
    CmdRun r = Do(cli::CmdList, {"all"});
    ASSERT_EQ(r.status, cli::kOk);
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    const size_t text_column = line.find("TEXT");
    const size_t number_column = line.find("NUMBER");
    ASSERT_NE(text_column, std::string::npos) << r.out;
    int rows = 0;
    for (const char* text : {"first line two", "second", "third", "a draft", "a template"}) {
        size_t at = r.out.find(text);
        ASSERT_NE(at, std::string::npos) << text;
        size_t line_start = r.out.rfind('\n', at) + 1;
        EXPECT_EQ(at - line_start, text_column) << text << "\n" << r.out;
        ++rows;
    }
    size_t number = r.out.find("+491702");
    EXPECT_EQ(number - (r.out.rfind('\n', number) + 1), number_column) << r.out;
    EXPECT_EQ(rows, 5);
}

TEST_F(CliStoreTest, OptionsShowWhatWasSaved) {
    std::string long_centre(600, '1');
    CmdRun r = Do(cli::CmdOptions, {"use-smsc", "on", "smsc", "+" + long_centre});
    ASSERT_EQ(r.status, cli::kOk) << r.err;
    // Cut to the 500 characters the file holds, and shown so.
    std::string cut = "+" + long_centre.substr(0, 499);
    EXPECT_NE(r.out.find("smsc               " + cut + "\n"), std::string::npos) << r.out;

    r = Do(cli::CmdOptions, {"use-port", "on", "port", "COM7:"});
    EXPECT_NE(r.out.find("port               COM7:"), std::string::npos) << r.out;
    r = Do(cli::CmdOptions, {"use-port", "off"});
    ASSERT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find("use-port           off\nport               \n"), std::string::npos)
        << r.out;
}

TEST_F(CliStoreTest, OptionsSayWhatADamagedFileKeptBeforeWriting) {
    ASSERT_EQ(Do(cli::CmdOptions, {"auto-sync", "on", "interval", "30", "use-smsc", "on", "smsc",
                                   "+4917", "use-port", "on", "port", "COM5:"})
                  .status,
              cli::kOk);
    // Torn in the middle of the SMS centre number.
    std::string bytes = parlo::testing::ReadFile(dir / "vok.ini");
    size_t centre = bytes.find(std::string("+\0004\0", 4));
    ASSERT_NE(centre, std::string::npos);
    parlo::testing::WriteFile(dir / "vok.ini", bytes.substr(0, centre + 2));

    CmdRun r = Do(cli::CmdOptions, {});
    EXPECT_EQ(r.status, cli::kOk);
    EXPECT_NE(r.err.find("is damaged (it ends in the middle of a setting)"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("kept:                      phone model, provider, connection, "
                         "auto-sync, interval, use-smsc, use-port and port, concatenated\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("fell back to the defaults: smsc, delete-after-sync, the values kept "
                         "for other programs\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("interval           30"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("port               COM5:"), std::string::npos) << r.out;

    r = Do(cli::CmdOptions, {"smsc", "+4918"});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.err.find("Saving writes these values."), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("auto-sync          on"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("port               COM5:"), std::string::npos) << r.out;

    // A file that is not a settings file at all: everything fell back.
    parlo::testing::WriteFile(dir / "vok.ini", "[settings]\n");
    r = Do(cli::CmdOptions, {});
    EXPECT_NE(r.err.find("is damaged (it is not a settings file)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("fell back to the defaults: phone model, provider"), std::string::npos)
        << r.err;
}

TEST_F(CliStoreTest, OptionsRefuseToWriteOverAFileThatCannotBeRead) {
    // A directory in its place: it opens, but cannot be read.
    std::filesystem::create_directory(dir / "vok.ini");
    CmdRun r = Do(cli::CmdOptions, {"auto-sync", "on"});
    EXPECT_EQ(r.status, cli::kFailed);
    EXPECT_NE(r.err.find("cannot be read"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was changed"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_directory(dir / "vok.ini"));
    r = Do(cli::CmdOptions, {});
    EXPECT_NE(r.err.find("these are the defaults, not your settings"), std::string::npos) << r.err;
}

TEST_F(CliStoreTest, ModemRuleForAUsbModem) {
    parlo::testing::TempDir sys;
    const auto usb = sys / "devices" / "1-2";
    std::filesystem::create_directories(usb / "1-2:1.0" / "ttyACM0");
    parlo::testing::WriteFile(usb / "idVendor", "0421\n");
    parlo::testing::WriteFile(usb / "idProduct", "0802\n");
    std::filesystem::create_directories(sys / "tty" / "ttyACM0");
    std::filesystem::create_directory_symlink(usb / "1-2:1.0" / "ttyACM0",
                                              sys / "tty" / "ttyACM0" / "device");
    ASSERT_EQ(Do(cli::CmdModem, {"add", "Nokia", "/dev/ttyACM0"}).status, cli::kOk);
    CmdRun r = Do(cli::CmdModem, {"rule", "Nokia", "--sysfs", (sys / "tty").string()});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find("ATTRS{idVendor}==\"0421\", ATTRS{idProduct}==\"0802\", "
                         "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Do(cli::CmdModem, {"rule", "Other"}).status, cli::kFailed);
}

}  // namespace

namespace {

// Damage in the middle of the store is reported on load, and "store recover"
// takes back the whole records behind it.
TEST_F(CliStoreTest, DamagedStoreIsReportedAndRecovered) {
    Fill();
    std::string bytes = parlo::testing::ReadFile(dir / "vok.sms");
    const size_t second = 44 + 2 * (7 + 15);  // behind "+491701", "first\r\nline two"
    bytes[second + 4] = '\x7f';               // the number length of record 2
    bytes[second + 7] = '\x7f';
    parlo::testing::WriteFile(dir / "vok.sms", bytes);

    CmdRun r = Do(cli::CmdList, {"all"});
    EXPECT_EQ(r.status, cli::kOk);
    EXPECT_NE(LastPrompt().find(u"damaged at byte 88: 1 message was read"), std::u16string::npos);
    EXPECT_NE(LastPrompt().find(u"parlo-cli store recover"), std::u16string::npos);
    ASSERT_EQ(States().size(), 1u);

    r = Do(cli::CmdStore, {"recover"});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find("Found 3 messages in vok.sms.torn; 3 taken back"), std::string::npos)
        << r.out;
    EXPECT_EQ(States(), (std::vector<int32_t>{0, 1, 6, 7}));
    r = Do(cli::CmdStore, {"recover"});
    EXPECT_NE(r.out.find("0 taken back"), std::string::npos) << r.out;
    EXPECT_EQ(Do(cli::CmdStore, {}).status, cli::kUsage);
}

}  // namespace

namespace {

// A message joined from parts: one line in the list (saying incomplete), and
// its parts in "show".
TEST_F(CliStoreTest, JoinedMessageIsOneLineAndShowsItsParts) {
    parlo::CPartGroup g;
    g.m_nId = 1;
    g.m_strNumber = u"+491709";
    g.m_nRef = 12;
    g.m_nTotal = 3;
    g.m_anchor = 45010.5;
    g.m_parts = {{3, parlo::STORAGE_SIM, 4, parlo::STATE_UNREAD, 45010.5, u"end."},
                 {1, parlo::STORAGE_PHONE, 7, parlo::STATE_UNREAD, 45010.5, u"Start "},
                 {1, parlo::STORAGE_POCKETPC, -1, parlo::STATE_UNREAD, 45010.5, u"Start "}};
    {
        parlo::NullParloView view;
        parlo::CParloDoc doc(&view, &prompt);
        parlo::StartOptions opt;
        opt.require_ports = false;
        ASSERT_TRUE(doc.Start(nullptr, opt));
        doc.AddReceived(parlo::STATE_READ, u"+491701", u"single", {45000.5, 0},
                        parlo::STORAGE_PHONE, 1);
        doc.AddReceived(parlo::STATE_UNREAD, u"+491709", parlo::JoinedText(g), {45010.5, 0},
                        parlo::STORAGE_PHONE, 7);
    }
    ASSERT_EQ(parlo::CPartsTable(dir.path()).Update([&](parlo::CPartsFile& f) {
        f.m_groups.push_back(g);
        return true;
    }),
              parlo::PartsResult::kOk);

    CmdRun list = Do(cli::CmdList, {"all"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("(incomplete) Start [part 2 of 3"), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find("(incomplete) single"), std::string::npos) << list.out;

    CmdRun show = Do(cli::CmdShow, {Id(2)});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("Parts:       2 of 3 received (incomplete)\n"
                            "  part 1: received, phone memory (ME) slot 7, received, no longer "
                            "on the phone\n"
                            "  part 2: missing\n"
                            "  part 3: received, SIM (SM) slot 4\n"),
              std::string::npos)
        << show.out;
    EXPECT_NE(show.out.find("Start [part 2 of 3 not received yet]end."), std::string::npos);
    CmdRun single = Do(cli::CmdShow, {Id(1)});
    EXPECT_EQ(single.out.find("Parts:"), std::string::npos) << single.out;
}

// Ids taken before a compaction name the same messages after it, and an id
// of a purged message is refused without touching anything.
TEST_F(CliStoreTest, IdsSurviveACompactionAndAPurgedIdIsRefused) {
    Fill();
    const std::string first = Id(1), third = Id(3), draft = Id(4);
    ASSERT_EQ(Do(cli::CmdDelete, {first}).status, cli::kOk);
    prompt.Push(Answer::Yes);
    ASSERT_EQ(Do(cli::CmdEmptyRecycleBin, {}).status, cli::kOk);
    ASSERT_EQ(States(), (std::vector<int32_t>{1, 1, 6, 7}));  // every record moved up

    CmdRun r = Do(cli::CmdShow, {third});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find("third"), std::string::npos) << r.out;
    EXPECT_EQ(Do(cli::CmdDelete, {draft}).status, cli::kOk);
    EXPECT_EQ(States(), (std::vector<int32_t>{1, 1, 9, 7}));

    r = Do(cli::CmdDelete, {third, first});
    EXPECT_EQ(r.status, cli::kFailed);
    EXPECT_NE(r.err.find("the store changed since you listed it"), std::string::npos) << r.err;
    EXPECT_EQ(States(), (std::vector<int32_t>{1, 1, 9, 7}));
    r = Do(cli::CmdShow, {"3"});  // a list position, as ids once were
    EXPECT_EQ(r.status, cli::kFailed);
    EXPECT_NE(r.err.find("not a message id"), std::string::npos) << r.err;
}

// A damaged registry that hides a user folder is reported with what was
// kept, the damaged file is copied aside before it is rewritten, and a new
// folder does not take the id that the hidden folder's messages carry.
TEST_F(CliStoreTest, DamagedRegistryIsReportedAndItsFolderIdsStayTaken) {
    Fill();
    ASSERT_EQ(Do(cli::CmdFolders, {"add", "Work"}).status, cli::kOk);
    ASSERT_EQ(Do(cli::CmdFolders, {"add", "Home"}).status, cli::kOk);
    ASSERT_EQ(Do(cli::CmdMove, {"Work", Id(2)}).status, cli::kOk);
    ASSERT_EQ(Do(cli::CmdMove, {"Home", Id(3)}).status, cli::kOk);
    const std::filesystem::path reg = dir / "registry.reg";
    std::string text = parlo::testing::ReadFile(reg);
    const size_t at = text.find("\"I1\"=\"2\"");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, 8, "\"I1\"=\x01\x02");
    parlo::testing::WriteFile(reg, text);
    const size_t said = prompt.texts().size();

    CmdRun r = Do(cli::CmdList, {"Work"});
    EXPECT_EQ(r.status, cli::kOk);
    ASSERT_GT(prompt.texts().size(), said);
    EXPECT_EQ(LastPrompt(),
              u"The registry file registry.reg is damaged: 1 line could not be read. 1 user "
              u"folder was read and kept. 1 message is in folders that it no longer names (id "
              u"2); they are kept in the store, and no new folder takes those ids. Before the "
              u"file is next changed, it is copied to registry.reg.damaged, from which the lost "
              u"values can be taken back by hand.");

    ASSERT_EQ(Do(cli::CmdFolders, {"add", "New"}).status, cli::kOk);
    r = Do(cli::CmdFolders, {"list"});
    EXPECT_NE(r.out.find("    3         0  New"), std::string::npos) << r.out;
    EXPECT_EQ(Do(cli::CmdList, {"New"}).out.find("third"), std::string::npos);
    EXPECT_EQ(parlo::testing::ReadFile(dir / "registry.reg.damaged"), text);
}

// pb.ini, the phonebook copy, a group file and the hand-off file: each
// damage is said, with what was kept, and a copy of the damaged file stays.
TEST_F(CliStoreTest, DamagedContactFilesAreReportedWithWhatWasKept) {
    // pb.ini: the flags, then an identity whose units end early.
    std::string pb("\x00\x00\x00\x10\x05\x00\x00\x00\x41\x00", 10);
    parlo::testing::WriteFile(dir / "pb.ini", pb);
    // The phonebook copy of identity 0 with three entries, the last one cut.
    parlo::CPhonebook book;
    for (uint32_t i = 1; i <= 3; ++i)
        book.m_entries.push_back(std::make_unique<parlo::CPhonebookEntry>(
            i, u"Name " + std::u16string(1, static_cast<char16_t>(u'0' + i)), u"+4917012"));
    const std::filesystem::path copy = parlo::PhonebookPath(dir.path(), u"0");
    ASSERT_TRUE(book.Save(copy));
    std::string bytes = parlo::testing::ReadFile(copy);
    bytes.resize(bytes.size() - 6);
    parlo::testing::WriteFile(copy, bytes);

    parlo::NullParloView view;
    parlo::CParloDoc doc(&view, &prompt);
    parlo::StartOptions opt;
    opt.require_ports = false;
    ASSERT_TRUE(doc.Start(nullptr, opt));
    auto said = [&](std::u16string_view part) {
        for (const std::u16string& t : prompt.texts())
            if (t.find(part) != std::u16string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(
        said(u"The file pb.ini is damaged: the phonebook choice was read and kept; the "
             u"phone identity could not be read"));
    EXPECT_EQ(doc.Settings().m_nPhonebookFlags, parlo::PB_SIM);
    EXPECT_TRUE(
        said(u"The file pb/0.pb is damaged: 2 entries were read and kept; the rest could "
             u"not be read. A copy of the damaged file is kept as pb/0.pb.damaged."));
    EXPECT_EQ(doc.Phonebook().m_entries.size(), 2u);
    EXPECT_EQ(parlo::testing::ReadFile(dir / "pb.ini.damaged"), pb);
    std::filesystem::path kept = copy;
    kept += ".damaged";
    EXPECT_EQ(parlo::testing::ReadFile(kept), bytes);

    // A group file claiming a million members and holding one.
    parlo::GroupMemberList members;
    auto m = std::make_unique<parlo::CGroupMember>();
    m->m_strSource = parlo::kContactsSource;
    m->m_nSourceId = 7;
    m->m_strMemberName = u"Ann";
    members.push_back(std::move(m));
    const std::filesystem::path group = parlo::GroupPath(dir.path(), u"Team");
    std::filesystem::create_directories(group.parent_path());
    ASSERT_TRUE(parlo::SaveGroup(members, group));
    std::string g = parlo::testing::ReadFile(group);
    g.replace(0, 4, std::string("\x40\x42\x0f\x00", 4));
    parlo::testing::WriteFile(group, g);
    doc.EnumerateGroups();
    ASSERT_EQ(doc.Groups().size(), 1u);
    EXPECT_EQ(doc.Groups()[0]->m_nCount, 1);
    EXPECT_TRUE(said(u"The file groups/Team.grp is damaged: 1 member was read and kept"));

    // A hand-off file whose length says more than it holds.
    parlo::testing::WriteFile(dir / "newsms.tmp", std::string("\x30\x00\x00\x00\x31\x00", 6));
    std::u16string number;
    EXPECT_EQ(doc.TakeHandoffNumber(&number), 0);
    EXPECT_TRUE(said(u"The file newsms.tmp is damaged: no number could be read from it"));
    EXPECT_FALSE(std::filesystem::exists(dir / "newsms.tmp"));
}

}  // namespace
