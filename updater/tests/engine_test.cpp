// The updater against a local update server: check, selection, download,
// installation, reset mode, self-update and the batch mode.
#include <sys/wait.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "platform/process.h"
#include "updater/batch.h"
#include "updater/tests/fixture.h"

namespace updater_test {
namespace {

using updater::Engine;
using updater::Outcome;

const char kAppInfo[] = "<VER>0.01\r\n<FILE>a.exe\t1.9\r\n<FILE>b.exe\t1.0\r\n<FILE>c.db\t1.0\r\n";

class EngineTest : public UpdaterFixture {
  protected:
    void SetUp() override {
        UpdaterFixture::SetUp();
        WriteFile(app_dir_ / "version.info", kAppInfo);
        WriteFile(app_dir_ / "a.exe", "old a");
        WriteFile(app_dir_ / "b.exe", "old b");
        WriteFile(app_dir_ / "c.db", "old c");
    }

    std::string Error(const Engine& engine) { return platform::ToUtf8(engine.error_text()); }
};

TEST_F(EngineTest, DirectUpdateOffersNewAndNewerFilesOnly) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n"
                    "<bin>a.exe 1.10\r\n"  // not newer than 1.9
                    "<bin>b.exe 1.1\r\n"
                    "<bin>n.exe 1.0\r\n"
                    "<bin>\\tools\\t.exe 1.0\r\n"
                    "<group_db>\r\n<label>Data\r\n"
                    "<cfg>sub\\d.db 1.0\r\n");
    Serve("b.exe", "new b");
    Serve("n.exe", "new n");
    Serve("t.exe", "new t");
    Serve("d.db", "new d");
    std::string out;
    ASSERT_EQ(Batch(&out), updater::BATCH_UPDATED) << out;
    EXPECT_EQ(ReadFile(app_dir_ / "a.exe"), "old a");
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "new b");
    EXPECT_EQ(ReadFile(app_dir_ / "n.exe"), "new n");
    EXPECT_EQ(ReadFile(root_ / "tools" / "t.exe"), "new t");  // "\" paths start at the root
    EXPECT_EQ(ReadFile(app_dir_ / "sub" / "d.db"), "new d");  // relative paths below the app
    EXPECT_EQ(ReadFile(app_dir_ / "version.info"),
              "<VER>0.01\r\n"
              "<FILE>b.exe\t1.1\r\n"
              "<FILE>n.exe\t1.0\r\n"
              "<FILE>\\tools\\t.exe\t1.0\r\n"
              "<FILE>sub\\d.db\t1.0\r\n"
              "<FILE>a.exe\t1.9\r\n"
              "<FILE>c.db\t1.0\r\n");
    EXPECT_TRUE(fs::is_empty(Temp()));
    std::string log = Log();
    EXPECT_NE(log.find(": application name : demo \n"), std::string::npos);
    EXPECT_NE(log.find(": Budu stahovat:b.exe velikost: 5 ze skupiny: programs \n"),
              std::string::npos);
    EXPECT_NE(log.find(": DownLoadUpgrades done. \n"), std::string::npos);
    EXPECT_NE(log.find(": moving file: n.exe \n"), std::string::npos);
    EXPECT_EQ(log.find("a.exe"), std::string::npos);
    // The requests are HTTP/1.0 GETs below the product's folder.
    for (const std::string& request : server_.Requests()) {
        EXPECT_EQ(request.rfind("GET /auto_update/", 0), 0u) << request;
        EXPECT_NE(request.find(" HTTP/1.0"), std::string::npos) << request;
    }
    // Nothing waits for the next log-in: no autostart entry.
    EXPECT_FALSE(fs::exists(updater::AutostartFile()));
}

// A command line without an application or its directory is a usage error
// that leaves no trace: no log, no folders, no autostart entry.
TEST_F(EngineTest, UsageErrorsChangeNothing) {
    fs::remove_all(root_);
    fs::remove_all(base_ / "config");
    for (const char* line : {"", "-app:demo", "-app:demo -path:", "-app: -path:\\app"}) {
        std::ostringstream out;
        EXPECT_EQ(updater::RunBatch(line, MakeConfig(), out), updater::BATCH_USAGE) << line;
        EXPECT_NE(out.str().find("usage: updater --batch -app:NAME -path:DIRECTORY"),
                  std::string::npos);
        EXPECT_FALSE(fs::exists(root_)) << line;
        EXPECT_FALSE(fs::exists(base_ / "config")) << line;
    }
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(EngineTest, NothingNewerMeansNoUpdates) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>a.exe 1.10\r\n<bin>b.exe 1.0\r\n");
    std::string out;
    EXPECT_EQ(Batch(&out), updater::BATCH_NO_UPDATES);
    EXPECT_NE(out.find("No available updates"), std::string::npos);
    EXPECT_EQ(ReadFile(app_dir_ / "version.info"), kAppInfo);
}

TEST_F(EngineTest, UncheckedGroupFileComesAlongAsDependency) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 2.0\r\n<bin>x.exe 1.0\r\n"
                    "<group_db>\r\n<label>Data\r\n<cfg>c.db 2.0 b.exe 2.0\r\n");
    Serve("b.exe", std::string(3000, 'b'));
    Serve("x.exe", "x");
    Serve("c.db", std::string(5000, 'c'));
    Engine engine(MakeConfig());
    engine.StartUp(command_line_);
    ASSERT_EQ(engine.RunCheck(), 1);
    ASSERT_EQ(engine.CheckOutcome(), Outcome::kFiles);
    ASSERT_EQ(engine.groups().size(), 2u);
    EXPECT_EQ(engine.TotalSize(), 8001);
    engine.SetGroupSelected(0, false);
    EXPECT_EQ(engine.groups()[0].size, 3000);  // b.exe pulled in by c.db
    EXPECT_EQ(engine.TotalSize(), 8000);
    EXPECT_TRUE(engine.AnyGroupSelected());
    engine.PrepareDownload();
    ASSERT_EQ(engine.RunDownload(), 1);
    engine.Install();
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), std::string(3000, 'b'));
    EXPECT_FALSE(fs::exists(app_dir_ / "x.exe"));
    EXPECT_EQ(ReadFile(app_dir_ / "version.info"),
              "<VER>0.01\r\n<FILE>b.exe\t2.0\r\n<FILE>c.db\t2.0\r\n<FILE>a.exe\t1.9\r\n");
    engine.SetGroupSelected(1, false);
    EXPECT_FALSE(engine.AnyGroupSelected());
    EXPECT_EQ(engine.TotalSize(), 0);
}

TEST_F(EngineTest, ServerAnswersThatAreNoUpdate) {
    struct Case {
        const char* what;
        Answer answer;
        const char* error;
    };
    const Case cases[] = {
        {"html page", Answer{200, "<!DOCTYPE html>\n<html></html>\n"},
         "Error, can not connect to server."},
        {"html tag", Answer{200, "<HTML>\r\n<bin>a 1\r\n"}, "Error, can not connect to server."},
        {"no length", Answer{200, "<group_bin>\r\n", false}, "Error, file on server not found."},
        {"not found", Answer{404, "<group_bin>\r\n<label>x\r\n"},
         "Error, file on server not found."},
        {"cut short", Answer{200, "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 9.0\r\n", true, 20},
         "Error, the download of update.info broke off before its end."},
        {"larger than a list may be", Answer{200, std::string(updater::kMaxListBytes + 1, '<')},
         "Error, the file update.info on the server is larger than it may be."},
        {"no list at all", Answer{200, "hello\r\nworld\r\n"},
         "Error, the update list on the server can not be read."},
        {"empty", Answer{200, ""}, "Error, the update list on the server can not be read."},
        {"malformed entry", Answer{200, "<group_bin>\r\n<bin>a.exe\r\n"},
         "Error, the update list on the server can not be read."},
        {"unsafe entry", Answer{200, "<group_bin>\r\n<label>P\r\n<bin>..\\..\\evil.exe 1.0\r\n"},
         "Error, the update list names an unsafe file path."},
    };
    for (const Case& c : cases) {
        server_.Set("/auto_update/demo/update.info", c.answer);
        Serve("evil.exe", "evil");
        Engine engine(MakeConfig());
        engine.StartUp(command_line_);
        EXPECT_EQ(engine.RunCheck(), 2) << c.what;
        EXPECT_EQ(engine.CheckOutcome(), Outcome::kError) << c.what;
        EXPECT_EQ(Error(engine), c.error) << c.what;
        EXPECT_EQ(ReadFile(app_dir_ / "version.info"), kAppInfo);
    }
    EXPECT_FALSE(fs::exists(root_ / "evil.exe"));
    EXPECT_FALSE(fs::exists(base_ / "evil.exe"));
    std::string out;
    EXPECT_EQ(Batch(&out), updater::BATCH_REFUSED);
    EXPECT_NE(out.find("Error, the update list names an unsafe file path."), std::string::npos);
    EXPECT_NE(
        Log().find(": Refused: update.info names an unsafe path: <bin>..\\..\\evil.exe 1.0 \n"),
        std::string::npos);
}

TEST_F(EngineTest, UnreachableServer) {
    // A port that was free a moment ago.
    std::string host;
    {
        TestServer gone;
        host = gone.host();
    }
    updater::Config config = MakeConfig();
    config.host = host;
    Engine engine(config);
    engine.StartUp(command_line_);
    EXPECT_EQ(engine.RunCheck(), 2);
    EXPECT_EQ(Error(engine), "Error, can not connect to server.");
    EXPECT_NE(Log().find("Can not connect to server: " + host), std::string::npos);
}

TEST_F(EngineTest, FileSizeWithoutLengthOr404IsAnError) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 2.0\r\n<bin>n.exe 1.0\r\n");
    server_.Set("/auto_update/demo/b.exe", Answer{200, "body", false});
    Engine engine(MakeConfig());
    engine.StartUp(command_line_);
    EXPECT_EQ(engine.RunCheck(), 2);
    EXPECT_EQ(Error(engine), "Error, file on server not found.");

    Serve("b.exe", "body");  // n.exe is missing: 404
    EXPECT_EQ(engine.RunCheck(), 2);
    EXPECT_EQ(engine.CheckOutcome(), Outcome::kError);
    EXPECT_EQ(Error(engine), "Error, file on server not found.");
    EXPECT_NE(Log().find("File not found on server"), std::string::npos);
}

// A body cut short and a server too slow to finish within the deadline each
// say what happened; the application stays as it was.
TEST_F(EngineTest, BrokenOrStalledDownloadSaysSoAndLeavesTheApplicationAlone) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>a.exe 2.0\r\n<bin>b.exe 2.0\r\n");
    Serve("a.exe", "new a");
    Answer cut{200, std::string(10000, 'b')};
    cut.cut_at = 4000;
    Answer slow{200, std::string(10000, 'b')};
    slow.chunk_delay_ms = 2000;
    struct Case {
        Answer answer;
        const char* error;
        const char* log;
    };
    for (const Case& c :
         {Case{cut, "Error, the download of b.exe broke off before its end.",
               "Download incomplete"},
          Case{slow,
               "Error, the download of b.exe took too long: the server did not send it in time.",
               "Time-out: b.exe did not arrive within its deadline"}}) {
        server_.Set("/auto_update/demo/b.exe", c.answer);
        updater::Config config = MakeConfig();
        config.deadline_base_s = 1;
        config.min_rate = int64_t{1} << 30;
        Engine engine(config);
        engine.StartUp(command_line_);
        ASSERT_EQ(engine.RunCheck(), 1);
        engine.PrepareDownload();
        EXPECT_EQ(engine.RunDownload(), 2);
        EXPECT_TRUE(engine.download_failed());
        EXPECT_FALSE(engine.refused());
        EXPECT_EQ(Error(engine), c.error);
        engine.AbandonDownload();
        EXPECT_TRUE(fs::is_empty(Temp()));
        EXPECT_EQ(ReadFile(app_dir_ / "a.exe"), "old a");
        EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "old b");
        EXPECT_EQ(ReadFile(app_dir_ / "version.info"), kAppInfo);
        EXPECT_NE(Log().find(": error \n"), std::string::npos);
        EXPECT_NE(Log().find(c.log), std::string::npos) << Log();
    }
}

// The batch mode prints a progress line when the progress moves, not at
// every tick.
TEST_F(EngineTest, BatchProgressLinesChange) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 2.0\r\n");
    Answer slow{200, std::string(3072, 'b')};
    slow.chunk_delay_ms = 1200;
    server_.Set("/auto_update/demo/b.exe", slow);
    std::string out;
    ASSERT_EQ(Batch(&out), updater::BATCH_UPDATED) << out;
    std::istringstream lines(out);
    std::string line, last;
    int progress = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("Download: ", 0) != 0)
            continue;
        ++progress;
        EXPECT_NE(line, last) << out;
        last = line;
    }
    EXPECT_GT(progress, 0) << out;
}

TEST_F(EngineTest, CancelledDownloadEmptiesTemp) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 2.0\r\n");
    Answer slow{200, std::string(400 * 1024, 'b')};
    slow.chunk_delay_ms = 20;  // about eight seconds for the whole file
    server_.Set("/auto_update/demo/b.exe", slow);
    Engine engine(MakeConfig());
    engine.StartUp(command_line_);
    ASSERT_EQ(engine.RunCheck(), 1);
    engine.PrepareDownload();
    int result = 0;
    std::thread worker([&] { result = engine.RunDownload(); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto started = [&] {
        std::error_code ec;
        auto size = fs::file_size(Temp() / "b.exe", ec);
        return !ec && size > 0;
    };
    while (std::chrono::steady_clock::now() < deadline && !started()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Cancelled in the middle of the file: begun, not finished.
    EXPECT_TRUE(started()) << "the download never began";
    EXPECT_LT(engine.ProgressTick(), 100);
    engine.Cancel();
    worker.join();
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(engine.cancelled());
    EXPECT_FALSE(engine.download_failed());
    engine.AbandonDownload();
    EXPECT_TRUE(fs::is_empty(Temp()));
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "old b");
    std::string log = Log();
    EXPECT_NE(log.find(": Cancel \n"), std::string::npos);
    EXPECT_NE(log.find(": cancel \n"), std::string::npos);
    EXPECT_NE(log.find("File lenght:409600  downloaded:0  actual lenght:"), std::string::npos);
}

TEST_F(EngineTest, ResetModeListsFilesForCopyAtTheNextStart) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<postresetcopy>\r\n<group_bin>\r\n<label>Programs\r\n"
                    "<bin>b.exe 2.0\r\n<bin>\\shared\\s.dll 1.0\r\n<bin>lib\\l.so 1.0\r\n");
    Serve("b.exe", "new b");
    Serve("s.dll", "new s");
    Serve("l.so", "new l");
    std::string out;
    ASSERT_EQ(Batch(&out), updater::BATCH_RESTART_NEEDED) << out;
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "old b");
    EXPECT_FALSE(fs::exists(root_ / "shared"));
    EXPECT_EQ(ReadFile(Temp() / "b.exe"), "new b");
    EXPECT_EQ(ReadFile(Temp() / "postresetcopy.ini"),
              "b.exe\n\\app\\\ns.dll\n\\shared\\\nl.so\n\\app\\lib\\\n");
    EXPECT_NE(ReadFile(app_dir_ / "version.info").find("<FILE>b.exe\t2.0\r\n"), std::string::npos);

    // The updater started again before the restart keeps the waiting files
    // (and says so), but clears anything else.
    WriteFile(Temp() / "stray.tmp", "x");
    server_.SetFile("/auto_update/demo/update.info", "<group_bin>\r\n<label>Programs\r\n");
    ASSERT_EQ(Batch(&out), updater::BATCH_NO_UPDATES) << out;
    EXPECT_NE(out.find("An earlier update waits for the restart"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(Temp() / "stray.tmp"));
    EXPECT_EQ(ReadFile(Temp() / "b.exe"), "new b");
    EXPECT_TRUE(fs::exists(Temp() / "postresetcopy.ini"));

    // A second reset-mode update adds its file to the waiting list.
    server_.SetFile("/auto_update/demo/update.info",
                    "<postresetcopy>\r\n<group_db>\r\n<label>Data\r\n<cfg>c.db 2.0\r\n");
    Serve("c.db", "new c");
    ASSERT_EQ(Batch(&out), updater::BATCH_RESTART_NEEDED) << out;
    EXPECT_EQ(ReadFile(Temp() / "postresetcopy.ini"),
              "b.exe\n\\app\\\ns.dll\n\\shared\\\nl.so\n\\app\\lib\\\nc.db\n\\app\\\n");

    // At the next log-in "copy" puts them in place and removes its entry,
    // which names it, and is ignored once the program is gone.
    std::string entry = ReadFile(updater::AutostartFile());
    fs::path copy_program = fs::path(getenv("SKYVANE_BIN_DIR")) / "copy";
    EXPECT_NE(entry.find("\nExec=\"" + copy_program.string() + "\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nTryExec=" + copy_program.string() + "\n"), std::string::npos) << entry;
    fs::path copy = fs::path(getenv("SKYVANE_BIN_DIR")) / "copy";
    ASSERT_EQ(std::system(copy.c_str()), 0);
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "new b");
    EXPECT_EQ(ReadFile(root_ / "shared" / "s.dll"), "new s");
    EXPECT_EQ(ReadFile(app_dir_ / "lib" / "l.so"), "new l");
    EXPECT_EQ(ReadFile(app_dir_ / "c.db"), "new c");
    EXPECT_FALSE(fs::exists(Temp() / "postresetcopy.ini"));
    EXPECT_FALSE(fs::exists(updater::AutostartFile()));
}

TEST_F(EngineTest, ReplacedProgramKeepsItsPermissions) {
    fs::permissions(app_dir_ / "b.exe", fs::perms(0750));
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>P\r\n<bin>b.exe 2.0\r\n<bin>n.exe 1.0\r\n");
    Serve("b.exe", "new b");
    Serve("n.exe", "new n");
    ASSERT_EQ(Batch(), updater::BATCH_UPDATED);
    EXPECT_EQ(fs::status(app_dir_ / "b.exe").permissions() & fs::perms::all, fs::perms(0750));
    EXPECT_EQ(fs::status(app_dir_ / "n.exe").permissions() & fs::perms::owner_exec,
              fs::perms::owner_exec);
}

TEST_F(EngineTest, RunningApplicationStopsTheCheck) {
    // This test program is running: list it as a file of the application.
    std::string self = fs::read_symlink("/proc/self/exe").filename().string();
    WriteFile(app_dir_ / "version.info", std::string(kAppInfo) + "<FILE>" + self + "\t1.0\r\n");
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 2.0\r\n");
    Serve("b.exe", "new b");
    std::string out;
    EXPECT_EQ(Batch(&out), updater::BATCH_APP_RUNNING);
    EXPECT_NE(out.find("Application is still running"), std::string::npos);
    // The log names the blocking program, not every process of the machine.
    std::string log = Log();
    EXPECT_NE(log.find(":    Application still runing: " + self + " \n"), std::string::npos);
    EXPECT_EQ(log.find("running proces"), std::string::npos);

    // Reset mode installs after a restart: the running program does not matter.
    server_.SetFile("/auto_update/demo/update.info",
                    "<postresetcopy>\r\n<group_bin>\r\n<label>Programs\r\n<bin>b.exe 2.0\r\n");
    EXPECT_EQ(Batch(), updater::BATCH_RESTART_NEEDED);
}

TEST_F(EngineTest, TooOldUpdaterIsAnError) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<ver>0.02\r\n<group_bin>\r\n<label>Programs\r\n<bin>b.exe 2.0\r\n");
    Engine engine(MakeConfig());
    engine.StartUp(command_line_);
    EXPECT_EQ(engine.RunCheck(), 1);
    EXPECT_EQ(engine.CheckOutcome(), Outcome::kError);
    EXPECT_EQ(Error(engine), "Error, you need new version of updater. Please try update later.");

    WriteFile(app_dir_ / "version.info", "<VER>0.10\r\n");  // written by a newer updater
    server_.SetFile("/auto_update/demo/update.info", "<group_bin>\r\n<label>P\r\n");
    EXPECT_EQ(engine.RunCheck(), 1);
    EXPECT_EQ(engine.CheckOutcome(), Outcome::kError);
}

TEST_F(EngineTest, BatchWithoutApplicationIsBadUsage) {
    std::ostringstream out;
    EXPECT_EQ(updater::RunBatch("", MakeConfig(), out), updater::BATCH_USAGE);
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(EngineTest, MissingOwnVersionInfoStopsPhaseA) {
    fs::remove(updater_dir_ / "version.info");
    Engine engine(MakeConfig());
    engine.StartUp(command_line_);
    EXPECT_EQ(engine.RunCheck(), 2);
    EXPECT_EQ(Error(engine), "Error, file updaterEng version.info not found.");
}

TEST_F(EngineTest, StartUpFromCommandLineOrSelfTmp) {
    WriteFile(root_ / "updater.log", "old");
    WriteFile(updater::AutostartFile(), "[Desktop Entry]\n");
    WriteFile(Temp() / "left.over", "x");
    {
        Engine engine(MakeConfig());
        EXPECT_EQ(engine.StartUp(command_line_), updater::StartResult::kNormal);
        EXPECT_EQ(engine.app_name(), "demo");
        EXPECT_EQ(engine.app_dir(), "\\app");
        EXPECT_FALSE(engine.self_update_mode());
        EXPECT_TRUE(fs::is_empty(Temp()));
        EXPECT_EQ(Log().find("old"), std::string::npos);
        // Nothing waits: an entry left from before goes.
        EXPECT_FALSE(fs::exists(updater::AutostartFile()));
    }
    {
        WriteFile(updater_dir_ / "self.tmp", "other\n/opt/other\n");
        Engine engine(MakeConfig());
        EXPECT_EQ(engine.StartUp(command_line_), updater::StartResult::kSelfUpdate);
        EXPECT_EQ(engine.app_name(), "other");
        EXPECT_EQ(engine.app_dir(), "/opt/other");
        EXPECT_TRUE(engine.self_update_mode());
        EXPECT_FALSE(fs::exists(updater_dir_ / "self.tmp"));
        std::string log = Log();
        EXPECT_NE(log.find(": Parsing done. \n"), std::string::npos);  // the log was kept
        EXPECT_NE(log.find(": AppName:other \n"), std::string::npos);
        EXPECT_NE(log.find(": AppPath:/opt/other \n"), std::string::npos);
    }
    {
        WriteFile(updater_dir_ / "self.tmp", "");
        Engine engine(MakeConfig());
        EXPECT_EQ(engine.StartUp(command_line_), updater::StartResult::kQuit);
        EXPECT_NE(Log().find(": File self.tmp is empty \n"), std::string::npos);
    }
}

TEST_F(EngineTest, SelfUpdateListsTheUpdatersFilesAndHandsOver) {
    server_.SetFile("/auto_update/updaterEng/update.info",
                    "<group_bin>\r\n<label>Updater\r\n<bin>updater 1.0\r\n<bin>helper.dat 2.0\r\n");
    server_.SetFile("/auto_update/updaterEng/helper.dat", "helper 2");
    WriteFile(updater_dir_ / "version.info",
              "<VER>0.01\r\n<FILE>updater\t1.0\r\n<FILE>helper.dat\t1.0\r\n");
    std::vector<std::pair<fs::path, std::vector<std::string>>> started;
    platform::SetProgramStarterForTesting(
        [&](const fs::path& program, const std::vector<std::string>& args) {
            started.emplace_back(program, args);
            return true;
        });
    std::string out;
    int status = Batch(&out);
    platform::SetProgramStarterForTesting(nullptr);
    ASSERT_EQ(status, updater::BATCH_HANDED_OVER) << out;
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].first.filename(), "SelfUpdate");
    EXPECT_EQ(started[0].second, std::vector<std::string>{"--batch"});
    EXPECT_EQ(ReadFile(updater_dir_ / "self.tmp"), "demo\n\\app\n");
    EXPECT_EQ(ReadFile(Temp() / "helper.dat"), "helper 2");
    EXPECT_EQ(ReadFile(Temp() / "postresetcopy.ini"),
              "helper.dat\n" + updater_dir_.string() + "\\\n");
    EXPECT_EQ(ReadFile(updater_dir_ / "version.info"),
              "<VER>0.01\r\n<FILE>helper.dat\t2.0\r\n<FILE>updater\t1.0\r\n");
    std::string log = Log();
    EXPECT_NE(log.find(": Updating updater \n"), std::string::npos);
    EXPECT_NE(log.find(": I will download:helper.dat size: 0 kb from group: updater \n"),
              std::string::npos);
    // Nothing of the application was asked for yet.
    for (const std::string& request : server_.Requests()) {
        EXPECT_EQ(request.find("/demo/"), std::string::npos) << request;
    }
}

// The whole round trip with the real programs: updater -> SelfUpdate ->
// updater again, which then updates the application.
TEST_F(EngineTest, SelfUpdateRoundTripThroughSelfUpdate) {
    server_.SetFile("/auto_update/updaterEng/update.info",
                    "<group_bin>\r\n<label>Updater\r\n<bin>helper.dat 2.0\r\n");
    server_.SetFile("/auto_update/updaterEng/helper.dat", "helper 2");
    WriteFile(updater_dir_ / "version.info", "<VER>0.01\r\n<FILE>helper.dat\t1.0\r\n");
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>b.exe 2.0\r\n");
    Serve("b.exe", "new b");
    fs::path updater = fs::path(getenv("SKYVANE_BIN_DIR")) / "updater";
    if (!fs::exists(updater))
        GTEST_SKIP() << "the updater program is built only with Qt";
    if (!updater::BuiltinKeys().empty())
        GTEST_SKIP() << "the updater program has keys built in; this server signs nothing";
    std::string command = updater.string() + " --batch -app:demo '-path:\\app' >/dev/null";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), updater::BATCH_HANDED_OVER);
    // SelfUpdate and the second updater run detached: wait for their work.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline &&
           Log().find(": Switch to Done \n") == std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string log = Log();
    ASSERT_NE(log.find(": Switch to Done \n"), std::string::npos) << log;
    EXPECT_EQ(ReadFile(updater_dir_ / "helper.dat"), "helper 2");
    EXPECT_FALSE(fs::exists(updater_dir_ / "self.tmp"));
    EXPECT_EQ(ReadFile(app_dir_ / "b.exe"), "new b");
    EXPECT_NE(log.find(": SelfUpdate: updater started \n"), std::string::npos);
    EXPECT_NE(log.find(": AppName:demo \n"), std::string::npos);
    // The second run skipped the updater's own check.
    size_t second = log.find(": AppName:demo \n");
    EXPECT_EQ(log.find("Checking for new updaterEng version.", second), std::string::npos);
}

}  // namespace
}  // namespace updater_test
