// parlo-cli at, the program, against the simulated phone registered as the
// modem of a fresh installation.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace {

std::string RunProgram(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    *status = pclose(p);
    return out;
}

TEST(CliAtPhonesim, AtCgmiThroughTheRegisteredModem) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "cli-at-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    std::filesystem::path dir = tmpl;
    setenv("SKYVANE_HOME", dir.c_str(), 1);
    setenv("SKYVANE_ROOT", dir.c_str(), 1);
    nlohmann::json state = phonesim::testing::DefaultState();
    ASSERT_TRUE(phonesim::testing::WriteState(dir / "phone.json", state));
    {
        phonesim::testing::PhonesimProcess phone;
        ASSERT_TRUE(phone.Start(dir / "phone.json", {"--register", "Test Phone", "--home",
                                                     dir.string(), "--echo", "on"}));
        int status = -1;
        std::string cli = (platform::BinDir() / "parlo-cli").string();
        std::string out = RunProgram("'" + cli + "' at AT+CGMI 2>&1", &status);
        EXPECT_EQ(status, 0) << out;
        std::string maker = state["identity"]["manufacturer"].get<std::string>();
        EXPECT_EQ(out, ">> AT+CGMI\n" + maker + "\nresult: 1 (done)\n");
        EXPECT_TRUE(std::filesystem::exists(dir / "comm.log"));
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
