// The phone log: lines stay whole and in order across the move to comm.log.1.
#include "cordis/comm_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/binio.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"

namespace {

using skyvane::testing::ScopedEnv;
using skyvane::testing::TempDir;

// The texts of the lines of a log file (time stamps dropped); empty when the
// file is missing. Fails the test on a torn line.
std::vector<std::string> Lines(const std::filesystem::path& file) {
    std::string bytes;
    std::vector<std::string> out;
    if (!platform::ReadFileBytes(file, &bytes))
        return out;
    EXPECT_EQ(bytes.size() % 2, 0u) << file;
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    EXPECT_TRUE(text.empty() || text.back() == u'\n') << file;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        std::u16string line = text.substr(start, end - start);
        size_t colon = line.find(u": ");
        EXPECT_NE(colon, std::u16string::npos) << "torn line in " << file;
        out.push_back(platform::ToUtf8(line.substr(colon + 2)));
        start = end + 1;
    }
    return out;
}

TEST(CommLog, MovesAFullLogAsideAndKeepsEveryLineWhole) {
    TempDir dir;
    const auto file = dir / "comm.log";
    cordis::CommLog log(file);
    log.SetSizeLimit(600);
    std::vector<std::string> written;
    for (int i = 0; i < 40; ++i) {
        written.push_back("line " + std::to_string(i));
        // Deferred lines go out together with the next one.
        log.Write(platform::FromUtf8(written.back()), i % 3 == 1);
    }
    log.Flush();
    EXPECT_LE(std::filesystem::file_size(file), 600u);
    EXPECT_LE(std::filesystem::file_size(dir / "comm.log.1"), 600u);
    EXPECT_FALSE(std::filesystem::exists(dir / "comm.log.2"));
    // The two files hold the newest lines, in order, without a gap.
    std::vector<std::string> kept = Lines(dir / "comm.log.1");
    std::vector<std::string> current = Lines(file);
    ASSERT_FALSE(current.empty());
    kept.insert(kept.end(), current.begin(), current.end());
    ASSERT_LE(kept.size(), written.size());
    EXPECT_EQ(kept, std::vector<std::string>(written.end() - kept.size(), written.end()));
}

TEST(CommLog, WithoutALimitTheLogOnlyGrows) {
    TempDir dir;
    cordis::CommLog log(dir / "comm.log");
    log.SetSizeLimit(0);
    for (int i = 0; i < 50; ++i)
        log.Write(u"a line of the phone log");
    EXPECT_EQ(Lines(dir / "comm.log").size(), 50u);
    EXPECT_FALSE(std::filesystem::exists(dir / "comm.log.1"));
}

TEST(CommLog, TheLimitOfTheDeviceLogComesFromTheRegistry) {
    TempDir dir;
    ScopedEnv home("SKYVANE_HOME", dir.path().string());
    ScopedEnv root("SKYVANE_ROOT", dir.path().string());
    ASSERT_TRUE(platform::Registry::Device().SetDword(
        platform::Hive::CurrentUser, cordis::kLogLimitKey, cordis::kLogLimitValue, 1));
    cordis::CommLog log;
    std::string text(300, 'x');
    for (int i = 0; i < 10; ++i)
        log.Write(platform::FromUtf8(text));
    EXPECT_EQ(log.file(), dir / "comm.log");
    EXPECT_LE(std::filesystem::file_size(dir / "comm.log"), 1024u);
    EXPECT_TRUE(std::filesystem::exists(dir / "comm.log.1"));
}

}  // namespace
