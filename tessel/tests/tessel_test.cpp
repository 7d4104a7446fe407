#include "tessel/tessel.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "parlo/contacts/contacts_dir.h"
#include "platform/binio.h"
#include "platform/prompt.h"

namespace {

namespace fs = std::filesystem;

struct Start {
    fs::path program;
    std::vector<std::string> args;
};

std::string Card(const std::string& uid, const std::string& tels) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nN:" + uid + ";;;;\r\n" + tels +
           "END:VCARD\r\n";
}

class TesselTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tessel-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        home_ = root_ / "home";
        contacts_ = root_ / "contacts";
        fs::create_directories(home_);
        setenv("SKYVANE_HOME", home_.c_str(), 1);
        setenv("SKYVANE_ROOT", home_.c_str(), 1);
        setenv("SKYVANE_CONTACTS", contacts_.c_str(), 1);
        Write(contacts_ / "book" / "a.vcf", Card("anna", "TEL;TYPE=CELL:+49 (170) 123-45\r\n"));
        Write(contacts_ / "book" / "b.vcf", Card("bert", "TEL;TYPE=CELL:0171 999\r\n"));
        Write(contacts_ / "book" / "c.vcf", Card("carl", "TEL;TYPE=HOME:030 1\r\n"));
        // A stand-in client in the installation directory.
        Write(home_ / "Parlo.exe", "#!/bin/sh\necho started > \"$(dirname \"$0\")/started\"\n");
        fs::permissions(home_ / "Parlo.exe", fs::perms::owner_all);
        starter_ = [this](const fs::path& program, const std::vector<std::string>& args) {
            starts_.push_back({program, args});
            return true;
        };
        TesselSetPromptForTesting(&prompt_);
        TesselSetProgramStarterForTesting(&starter_);
    }
    void TearDown() override {
        TesselSetPromptForTesting(nullptr);
        TesselSetProgramStarterForTesting(nullptr);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    static void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    uint32_t Oid(const std::string& uid) { return oids_.at(uid); }
    std::u16string HandOff() {
        std::string bytes;
        if (!platform::ReadFileBytes(home_ / "newsms.tmp", &bytes))
            return u"<none>";
        platform::BinaryReader in(bytes);
        std::u16string number;
        EXPECT_TRUE(in.ReadRecordString(&number, 199));
        EXPECT_TRUE(in.at_end());
        return number;
    }
    // The ids the contacts store gives (the library sees the same ones).
    void LoadOids() {
        std::vector<parlo::StoredContact> all;
        ASSERT_EQ(parlo::ContactsDir::Default().Load(&all), parlo::ContactsStatus::kOk);
        for (const auto& c : all) {
            oids_[std::string(c.card.uid.begin(), c.card.uid.end())] = c.oid;
        }
    }

    fs::path root_, home_, contacts_;
    platform::ScriptedPrompt prompt_;
    platform::ProgramStarter starter_;
    std::vector<Start> starts_;
    std::map<std::string, uint32_t> oids_;
};

TEST_F(TesselTest, NoSelectionDoesNothing) {
    uint32_t oid = 1;
    CePimCommand(nullptr, 0, 0, &oid, nullptr);
    EXPECT_TRUE(prompt_.texts().empty());
    EXPECT_TRUE(starts_.empty());
    EXPECT_FALSE(fs::exists(home_ / "newsms.tmp"));
}

TEST_F(TesselTest, WritesTheFirstContactsNumberUncleanedAndStartsTheClient) {
    LoadOids();
    uint32_t oids[] = {Oid("anna"), Oid("bert")};
    CePimCommand(nullptr, 0, 2, oids, nullptr);
    EXPECT_TRUE(prompt_.texts().empty());
    EXPECT_EQ(HandOff(), u"+49 (170) 123-45");
    ASSERT_EQ(starts_.size(), 1u);
    EXPECT_EQ(starts_[0].program, home_ / "Parlo.exe");
    EXPECT_TRUE(starts_[0].args.empty());
}

TEST_F(TesselTest, TheSecondCommandReplacesTheFirstNumber) {
    LoadOids();
    uint32_t a = Oid("anna"), b = Oid("bert");
    CePimCommand(nullptr, 0, 1, &a, nullptr);
    CePimCommand(nullptr, 0, 1, &b, nullptr);
    EXPECT_EQ(HandOff(), u"0171 999");
    EXPECT_EQ(starts_.size(), 2u);
}

TEST_F(TesselTest, ContactWithoutCellNumberGetsTheGermanMessage) {
    LoadOids();
    uint32_t c = Oid("carl");
    CePimCommand(nullptr, 0, 1, &c, nullptr);
    auto shown = prompt_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, u"Es ist keine Handy Nummer vorhanden");
    EXPECT_EQ(shown[0].icon, platform::Icon::Warning);
    EXPECT_EQ(shown[0].caption, u"");
    EXPECT_FALSE(fs::exists(home_ / "newsms.tmp"));
    EXPECT_TRUE(starts_.empty());
}

TEST_F(TesselTest, UnknownContactAndUnusableStore) {
    LoadOids();
    uint32_t missing = Oid("anna") ^ 0x5A5A5A5;
    CePimCommand(nullptr, 0, 1, &missing, nullptr);
    ASSERT_EQ(prompt_.shown().size(), 1u);
    EXPECT_EQ(prompt_.shown()[0].text, u"Get contacts item failed");
    EXPECT_EQ(prompt_.shown()[0].caption, u"Error");

    prompt_.Clear();
    fs::remove_all(contacts_);
    Write(contacts_, "not a folder");
    uint32_t any = 1;
    CePimCommand(nullptr, 0, 1, &any, nullptr);
    EXPECT_EQ(prompt_.texts().at(0), u"Initialize failed");
    EXPECT_TRUE(starts_.empty());
}

TEST_F(TesselTest, LauncherTakesUidsAndStartsTheClient) {
    const char* bin = std::getenv("SKYVANE_BIN_DIR");
    if (!bin)
        GTEST_SKIP() << "SKYVANE_BIN_DIR not set";
    fs::path launcher = fs::path(bin) / "tessel";
    ASSERT_TRUE(fs::exists(launcher));
    // Without a display the launcher's messages go to standard error.
    std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY ";
    EXPECT_EQ(std::system((env + launcher.string() + " bert >/dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(HandOff(), u"0171 999");
    // The stand-in client writes a marker when it runs.
    for (int i = 0; i < 200 && !fs::exists(home_ / "started"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(fs::exists(home_ / "started"));
    LoadOids();
    std::string by_oid = launcher.string() + " " + std::to_string(Oid("anna"));
    EXPECT_EQ(std::system((env + by_oid + " >/dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(HandOff(), u"+49 (170) 123-45");
    std::string by_file = launcher.string() + " " + (contacts_ / "book" / "b.vcf").string();
    EXPECT_EQ(std::system((env + by_file + " >/dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(HandOff(), u"0171 999");
    EXPECT_NE(std::system((env + launcher.string() + " nobody >/dev/null 2>&1").c_str()), 0);
}

// The launcher's "no mobile number" message reaches the user: on standard
// error without a display, and also when the display named cannot be
// reached (the program does not end in Qt's start-up).
TEST_F(TesselTest, LauncherTellsWhenThereIsNoMobileNumber) {
    const char* bin = std::getenv("SKYVANE_BIN_DIR");
    if (!bin)
        GTEST_SKIP() << "SKYVANE_BIN_DIR not set";
    const fs::path launcher = fs::path(bin) / "tessel";
    const fs::path said = root_ / "stderr.txt";
    auto run = [&](const std::string& env) {
        std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + env + " " +
                          launcher.string() + " carl >/dev/null 2>" + said.string();
        int rc = std::system(cmd.c_str());
        std::string text;
        platform::ReadFileBytes(said, &text);
        return std::make_pair(rc, text);
    };
    for (const std::string env : {"", "DISPLAY=:97", "QT_QPA_PLATFORM=offscreen"}) {
        auto [rc, text] = run(env);
        EXPECT_EQ(rc, 0) << env;
        EXPECT_NE(text.find("Es ist keine Handy Nummer vorhanden\n"), std::string::npos)
            << env << ": " << text;
        EXPECT_FALSE(fs::exists(home_ / "newsms.tmp")) << env;
    }
}

// A card outside the address book (the desktop opens any .vcf with the
// launcher) is refused with a reason the user sees, and nothing is started.
TEST_F(TesselTest, LauncherRefusesACardOutsideTheAddressBook) {
    const char* bin = std::getenv("SKYVANE_BIN_DIR");
    ASSERT_NE(bin, nullptr) << "SKYVANE_BIN_DIR not set";
    const fs::path launcher = fs::path(bin) / "tessel";
    const fs::path card = root_ / "elsewhere" / "card.vcf";
    Write(card, Card("outside", "TEL;TYPE=CELL:0170 1\r\n"));
    const fs::path said = root_ / "stderr.txt";
    for (const std::string env : {"", "QT_QPA_PLATFORM=offscreen"}) {
        std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + env + " " +
                          launcher.string() + " " + card.string() + " >/dev/null 2>" +
                          said.string();
        int rc = std::system(cmd.c_str());
        std::string text;
        platform::ReadFileBytes(said, &text);
        EXPECT_NE(rc, 0) << env;
        EXPECT_NE(text.find("is not a contact of the address book"), std::string::npos)
            << env << ": " << text;
        EXPECT_FALSE(fs::exists(home_ / "newsms.tmp")) << env;
        EXPECT_FALSE(fs::exists(home_ / "started")) << env;
    }
}

}  // namespace
