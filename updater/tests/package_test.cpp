// The updater of a packaged installation: its programs in a folder that
// belongs to the package manager (<prefix>/lib/skyvane/bin), the
// application's data in the user's installation directory.
#include <sys/wait.h>

#include <map>
#include <sstream>

#include "updater/batch.h"
#include "updater/tests/fixture.h"

namespace updater_test {
namespace {

const char kAppInfo[] = "<VER>0.01\r\n<FILE>data.db\t1.0\r\n<FILE>skin.bmp\t1.0\r\n";

class PackagedTest : public UpdaterFixture {
  protected:
    void SetUp() override {
        UpdaterFixture::SetUp();
        build_bin_ = getenv("SKYVANE_BIN_DIR");
        prefix_ = base_ / "pkg";
        bin_ = prefix_ / "lib" / "skyvane" / "bin";
        WriteFile(bin_ / "updater", "program");
        WriteFile(prefix_ / "share" / "skyvane" / "vok.dat", "data");
        fs::permissions(bin_, fs::perms(0555));
        setenv("SKYVANE_BIN_DIR", bin_.c_str(), 1);
        unsetenv("SKYVANE_UPDATER_DIR");
        WriteFile(app_dir_ / "version.info", kAppInfo);
        WriteFile(app_dir_ / "data.db", "old data");
        // The server offers a newer updater too: the package brings that.
        server_.SetFile("/auto_update/updaterEng/update.info",
                        "<group_bin>\r\n<label>Updater\r\n<bin>updater 9.0\r\n");
        server_.SetFile("/auto_update/updaterEng/updater", "new updater");
        package_before_ = Snapshot(prefix_);
    }

    void TearDown() override {
        EXPECT_EQ(Snapshot(prefix_), package_before_) << "the package's files were changed";
        fs::permissions(bin_, fs::perms(0755));
        setenv("SKYVANE_BIN_DIR", build_bin_.c_str(), 1);
        UpdaterFixture::TearDown();
    }

    // Every file below `dir` with its contents.
    static std::map<std::string, std::string> Snapshot(const fs::path& dir) {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            files[entry.path().string()] = entry.is_regular_file() ? ReadFile(entry.path()) : "";
        return files;
    }

    updater::Config PackagedConfig() {
        updater::Config config = updater::DefaultConfig();
        config.pause_ms = 0;
        config.builtin_keys.clear();
        config.key_dirs = {KeysDir()};
        return config;
    }

    int Run(const std::string& command_line, std::string* out) {
        std::ostringstream stream;
        int status = updater::RunBatch(command_line, PackagedConfig(), stream);
        *out = stream.str();
        return status;
    }

    int Copy(const std::string& env = {}) {
        std::string command = env + " " + (fs::path(build_bin_) / "copy").string() + " --at-login";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string build_bin_;
    fs::path prefix_, bin_;
    std::map<std::string, std::string> package_before_;
};

TEST_F(PackagedTest, DataUpdatesInTheUsersFolderAndThePackageIsLeftAlone) {
    updater::Config config = PackagedConfig();
    EXPECT_TRUE(config.packaged);
    EXPECT_EQ(updater::LocalPath(config.updater_dir), root_ / "updater");

    server_.SetFile("/auto_update/demo/update.info",
                    "<group_db>\r\n<label>Data\r\n<cfg>data.db 2.0\r\n");
    Serve("data.db", "new data");
    std::string out;
    ASSERT_EQ(Run(command_line_, &out), updater::BATCH_UPDATED) << out;
    EXPECT_NE(out.find("The updater's own files are updated by the package manager.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("The update was not verified: no trusted key.\n"), std::string::npos);
    EXPECT_EQ(ReadFile(app_dir_ / "data.db"), "new data");
    EXPECT_NE(ReadFile(app_dir_ / "version.info").find("<FILE>data.db\t2.0\r\n"),
              std::string::npos);
    for (const std::string& request : server_.Requests())
        EXPECT_EQ(request.find("updaterEng"), std::string::npos) << request;

    // Through a restart: the package's own autostart entry runs "copy";
    // the user gets none.
    server_.SetFile("/auto_update/demo/update.info",
                    "<postresetcopy>\r\n<group_user>\r\n<label>Add-ons\r\n<usr>skin.bmp 2.0\r\n");
    Serve("skin.bmp", "new skin");
    ASSERT_EQ(Run(command_line_, &out), updater::BATCH_RESTART_NEEDED) << out;
    EXPECT_FALSE(fs::exists(updater::AutostartFile()));
    EXPECT_TRUE(fs::exists(root_ / "updater" / "postresetcopy.sum"));
    EXPECT_EQ(Copy(), 0);
    EXPECT_EQ(ReadFile(app_dir_ / "skin.bmp"), "new skin");
    EXPECT_FALSE(fs::exists(root_ / "updater" / "postresetcopy.sum"));

    // At a log-in with nothing waiting, and for a user who never ran the
    // suite, "copy" writes nothing at all.
    std::string log = ReadFile(root_ / "updater.log");
    EXPECT_EQ(Copy(), 0);
    EXPECT_EQ(ReadFile(root_ / "updater.log"), log);
    fs::path stranger = base_ / "stranger";
    EXPECT_EQ(Copy("SKYVANE_HOME=" + stranger.string() + " SKYVANE_ROOT=" + stranger.string()), 0);
    EXPECT_FALSE(fs::exists(stranger));
}

// A usage error of the packaged updater does not even create the user's
// installation directory.
TEST_F(PackagedTest, UsageErrorWritesNothing) {
    fs::remove_all(root_);
    fs::remove_all(base_ / "config");
    std::string out;
    EXPECT_EQ(Run("-app:demo", &out), updater::BATCH_USAGE) << out;
    EXPECT_FALSE(fs::exists(root_));
    EXPECT_FALSE(fs::exists(base_ / "config"));
}

TEST_F(PackagedTest, PackageFilesAreLeftToThePackageManager) {
    server_.SetFile("/auto_update/demo/update.info",
                    "<group_bin>\r\n<label>Programs\r\n<bin>updater 2.0\r\n<bin>parlo 2.0\r\n");
    Serve("updater", "new updater");
    Serve("parlo", "new parlo");
    std::string out;
    EXPECT_EQ(Run("-app:demo -path:" + bin_.string(), &out), updater::BATCH_NO_UPDATES) << out;
    EXPECT_NE(out.find("updater belongs to the package manager and is updated with the package.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("parlo belongs to the package manager and is updated with the package.\n"),
              std::string::npos);
    for (const std::string& request : server_.Requests())
        EXPECT_EQ(request.find("demo/parlo"), std::string::npos) << request;
}

}  // namespace
}  // namespace updater_test
