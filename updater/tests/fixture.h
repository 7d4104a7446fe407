// Shared set-up of the updater's tests: a private device root, updater
// directory and autostart folder, and a local update server.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/text.h"
#include "updater/batch.h"
#include "updater/engine.h"
#include "updater/tests/test_server.h"

namespace updater_test {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, const std::string& data) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << data;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The UTF-16LE log as UTF-8.
inline std::string ReadLog(const fs::path& path) {
    std::string bytes = ReadFile(path);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return platform::ToUtf8(text);
}

class UpdaterFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        static int counter = 0;
        base_ = fs::temp_directory_path() /
                ("updater_test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
        fs::remove_all(base_);
        root_ = base_ / "root";
        app_dir_ = root_ / "app";
        updater_dir_ = base_ / "upd";
        fs::create_directories(app_dir_);
        fs::create_directories(updater_dir_);
        setenv("SKYVANE_ROOT", root_.c_str(), 1);
        setenv("SKYVANE_HOME", root_.c_str(), 1);
        setenv("SKYVANE_UPDATER_DIR", updater_dir_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (base_ / "config").c_str(), 1);
        setenv("SKYVANE_UPDATE_HOST", server_.host().c_str(), 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        // The updater itself is up to date unless a test says otherwise.
        WriteFile(updater_dir_ / "version.info", "<VER>0.01\r\n<FILE>updater\t1.0\r\n");
        server_.SetFile("/auto_update/updaterEng/update.info",
                        "<ver>0.01\r\n<group_bin>\r\n<label>Updater\r\n<bin>updater 1.0\r\n");
    }

    void TearDown() override {
        std::error_code ec;
        fs::remove_all(base_, ec);
    }

    updater::Config MakeConfig() {
        updater::Config config = updater::DefaultConfig();
        config.pause_ms = 0;
        // Keys a packager built in or put into the system's folder are not
        // the tests' business: they set up the user's keys folder themselves.
        config.builtin_keys.clear();
        config.key_dirs = {KeysDir()};
        return config;
    }

    // Serves an application file.
    void Serve(const std::string& name, const std::string& body) {
        server_.SetFile("/auto_update/demo/" + name, body);
    }

    std::string Log() { return ReadLog(root_ / "updater.log"); }
    // The user's folder of trusted keys (below the fixture's XDG_CONFIG_HOME).
    fs::path KeysDir() { return updater::UserKeysDir(); }
    fs::path Temp() { return root_ / "windows" / "temp"; }

    // The batch mode on the fixture's command line; its output in `output`.
    int Batch(std::string* output = nullptr) {
        std::ostringstream out;
        int status = updater::RunBatch(command_line_, MakeConfig(), out);
        if (output)
            *output = out.str();
        return status;
    }

    const std::string command_line_ = "-app:demo -path:\\app";
    TestServer server_;
    fs::path base_, root_, app_dir_, updater_dir_;
};

}  // namespace updater_test
