// A phone link on a scripted pseudo-terminal peer, with its own log file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cordis/cordis.h"
#include "cordis/testing/scripted_peer.h"
#include "platform/text.h"

namespace cordis {

inline std::u16string U(const std::string& s) {
    return platform::FromUtf8(s);
}

class LinkTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Time stamps in the C locale's shape, which LogLines() relies on.
        setenv("LC_ALL", "C", 1);
    }
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("cordis_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        link_ = std::make_unique<CCordis>(log_file());
        ASSERT_TRUE(peer_.ok()) << peer_.error();
    }
    void TearDown() override {
        link_.reset();
        std::filesystem::remove_all(dir_);
    }

    std::filesystem::path log_file() const { return dir_ / "comm.log"; }

    // StartSAR, OpenPort and SetParams as every client does.
    void Connect() {
        link_->StartSAR();
        ASSERT_EQ(link_->OpenPort(U(peer_.device())), 1);
        ASSERT_EQ(link_->SetParams(9600, 0, 8, 0), 1);
    }

    int Send(const std::string& command, std::u16string* reply, int mode = 0, int timeout = 10) {
        return link_->SendAndReceive(command, *reply, mode, timeout);
    }

    // The log's messages (without their time stamps), decoded from UTF-16LE.
    // A message may hold line feeds itself: a line ends at a line feed that
    // is followed by a time stamp ("%x %X" of the C locale) or the end.
    std::vector<std::u16string> LogLines() const {
        std::ifstream in(log_file(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::u16string text;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        }
        auto stamp_at = [&text](size_t at) {
            const std::u16string_view shape = u"00/00/00 00:00:00: ";
            if (at + shape.size() > text.size())
                return false;
            for (size_t i = 0; i < shape.size(); ++i) {
                char16_t c = text[at + i];
                if (shape[i] == u'0' ? (c < u'0' || c > u'9') : c != shape[i])
                    return false;
            }
            return true;
        };
        std::vector<std::u16string> lines;
        size_t start = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n' && (i + 1 == text.size() || stamp_at(i + 1))) {
                std::u16string line = text.substr(start, i - start);
                lines.push_back(line.size() >= 19 ? line.substr(19) : line);
                start = i + 1;
            }
        }
        return lines;
    }

    size_t CountLog(const std::u16string& message) const {
        size_t n = 0;
        for (const auto& l : LogLines())
            n += l == message;
        return n;
    }

    std::filesystem::path dir_;
    testing::ScriptedPeer peer_;
    std::unique_ptr<CCordis> link_;
};

}  // namespace cordis
