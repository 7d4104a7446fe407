// The fixture of the tests that run whole parlo-cli processes against a
// simulated phone: a scratch folder per test (kept when the test failed), a
// fresh installation in it per round, and the programs started there.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "parlo/cli/testing/cli_process.h"
#include "parlo/store/message_store.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace parlo::clitest {

class CliProcsTest : public ::testing::Test {
  protected:
    // `prefix` names the scratch folder.
    explicit CliProcsTest(std::string prefix) : prefix_(std::move(prefix)) {}

    void SetUp() override {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / (prefix_ + "-XXXXXX")).string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        base_ = tmpl;
    }
    void TearDown() override {
        phone_.reset();
        if (!HasFailure())
            std::filesystem::remove_all(base_);
    }

    // Stops the phone of the round before and makes folder `name` of the
    // scratch folder the installation that the programs started next use.
    void NewInstallation(const std::string& name) {
        phone_.reset();
        dir_ = base_ / name;
        std::filesystem::create_directories(dir_);
        setenv("SKYVANE_HOME", dir_.c_str(), 1);
        setenv("SKYVANE_ROOT", dir_.c_str(), 1);
    }

    // Starts parlo-cli, its output in `name`.out of the installation.
    Program Start(const std::vector<std::string>& args, const std::string& name) {
        return Launch(args, dir_ / (name + ".out"));
    }
    // Runs parlo-cli to its end; its output in `out`.
    int Run(const std::vector<std::string>& args, std::string* out = nullptr) {
        static std::atomic<int> n{0};
        Program p = Start(args, "run" + std::to_string(n++));
        int status = Finish(p);
        if (out)
            *out = Slurp(p.out);
        return status;
    }

    // Starts parlo-cli sync and waits until it holds the synchronisation
    // lock, so that what the test does next overlaps the run.
    Program StartSync(const std::string& name) {
        Program sync = Start({"sync"}, name);
        auto end = Clock::now() + std::chrono::seconds(120);
        while (Clock::now() < end && Running(sync) &&
               Slurp(dir_ / "vok.lock").find("Skyvane synchronisation") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return sync;
    }

    // The records not purged, as a program started now reads them.
    std::vector<CSmsMessage> Records() const {
        CMessageStore store(dir_);
        EXPECT_EQ(store.LoadMessages(), StoreResult::kOk);
        std::vector<CSmsMessage> out;
        store.ForEach([&](CSmsMessage& m) {
            if (m.m_nState != STATE_PURGED)
                out.push_back(m);
        });
        return out;
    }

    std::filesystem::path base_, dir_;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone_;

  private:
    std::string prefix_;
};

}  // namespace parlo::clitest
