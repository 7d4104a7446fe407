// A phone started for one test, with a terminal talking to it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/phonesim/testing/phonesim_process.h"
#include "tools/phonesim/testing/pty_client.h"

namespace phonesim::testing {

class PhoneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "phonesim-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        state_file_ = dir_ / "phone.json";
        transcript_ = dir_ / "transcript.txt";
        state_ = DefaultState();
    }
    void TearDown() override {
        term_.Close();
        phone_.Stop();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Writes state_ and starts the phone with a transcript and `args`.
    void StartPhone(std::vector<std::string> args = {}) {
        ASSERT_TRUE(WriteState(state_file_, state_));
        args.push_back("--transcript");
        args.push_back(transcript_.string());
        ASSERT_TRUE(phone_.Start(state_file_, args));
        ASSERT_TRUE(term_.Open(phone_.device())) << phone_.device();
    }

    // Sends `line` + CR and returns the whole answer (echo included).
    std::string Cmd(const std::string& line) { return term_.Command(line); }

    std::filesystem::path dir_;
    std::filesystem::path state_file_;
    std::filesystem::path transcript_;
    nlohmann::json state_;
    PhonesimProcess phone_;
    PtyClient term_;
};

}  // namespace phonesim::testing
