// The contacts, groups and phonebook commands on a scratch installation
// without a phone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "parlo/cli/cli.h"
#include "parlo/contacts/tests/temp_dir.h"
#include "platform/prompt.h"

namespace cli {
int CmdContacts(Context& ctx);
int CmdGroups(Context& ctx);
int CmdPhonebook(Context& ctx);
}  // namespace cli

namespace {

struct CmdRun {
    int status;
    std::string out;
    std::string err;
};

class CliContactsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SKYVANE_HOME", (tmp.path() / "home").c_str(), 1);
        setenv("SKYVANE_ROOT", (tmp.path() / "home").c_str(), 1);
        setenv("SKYVANE_CONTACTS", (tmp.path() / "contacts").c_str(), 1);
        parlo::testing::WriteText(tmp.path() / "contacts" / "book" / "a.vcf",
                                  "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:a\r\nN:Smith;John;;;\r\n"
                                  "TEL;TYPE=CELL:+49 170 1\r\nTEL;TYPE=HOME:030 2\r\n"
                                  "END:VCARD\r\n");
        parlo::testing::WriteText(tmp.path() / "contacts" / "book" / "b.vcf",
                                  "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:b\r\nN:Home;Only;;;\r\n"
                                  "TEL;TYPE=HOME:040 3\r\nEND:VCARD\r\n");
    }
    CmdRun Do(int (*fn)(cli::Context&), std::vector<std::string> args) {
        std::ostringstream out, err;
        cli::Context ctx{std::move(args), tmp.path() / "home", true, false, out, err, prompt};
        int status = fn(ctx);
        return {status, out.str(), err.str()};
    }
    std::string ContactId(const std::string& name) {
        std::istringstream lines(Do(cli::CmdContacts, {"list"}).out);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.find("\t" + name + "\t") != std::string::npos)
                return line.substr(0, line.find('\t'));
        }
        return "?";
    }

    parlo::testing::TempDir tmp;
    platform::ScriptedPrompt prompt;
};

TEST_F(CliContactsTest, ContactsListShowsIdsAndKinds) {
    CmdRun r = Do(cli::CmdContacts, {"list"});
    EXPECT_EQ(r.status, cli::kOk);
    EXPECT_NE(r.out.find("\tHome Only\tH 040 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tSmith John\tM +49 170 1  H 030 2\n"), std::string::npos) << r.out;
    EXPECT_EQ(Do(cli::CmdContacts, {"bogus"}).status, cli::kUsage);
}

TEST_F(CliContactsTest, GroupsFromCreationToExpansion) {
    EXPECT_EQ(Do(cli::CmdGroups, {"create", "Team"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdGroups, {"create", "Team"}).status, cli::kFailed);
    EXPECT_EQ(prompt.texts().back(), u"Group name still exists!");
    EXPECT_EQ(Do(cli::CmdGroups, {"create", "../x"}).status, cli::kFailed);
    EXPECT_EQ(Do(cli::CmdPhonebook, {"add", "Pizza", "0301234"}).out, "sim:1\n");

    // The contact without a mobile number is refused.
    CmdRun add = Do(cli::CmdGroups,
                    {"add", "Team", ContactId("Smith John"), "sim:1", ContactId("Home Only")});
    EXPECT_EQ(add.status, cli::kFailed);
    EXPECT_EQ(prompt.texts().back(),
              u"Can not add contact Home Only. The Phone number is missing.");
    EXPECT_EQ(Do(cli::CmdGroups, {"list"}).out, "Team (2)\n");
    EXPECT_EQ(Do(cli::CmdGroups, {"expand", "Team"}).out, "+491701;0301234\n");
    CmdRun members = Do(cli::CmdGroups, {"members", "Team"});
    EXPECT_NE(members.out.find("2\tPizza\t0301234\tphone 0 sim:1\n"), std::string::npos)
        << members.out;

    EXPECT_EQ(Do(cli::CmdGroups, {"remove", "Team", "1"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdGroups, {"expand", "Team"}).out, "0301234\n");
    EXPECT_EQ(Do(cli::CmdGroups, {"remove", "Team", "5"}).status, cli::kUsage);
    EXPECT_EQ(Do(cli::CmdGroups, {"delete", "Team"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdGroups, {"list"}).out, "");
    EXPECT_EQ(Do(cli::CmdGroups, {"expand", "Team"}).status, cli::kFailed);
}

TEST_F(CliContactsTest, PhonebookEditing) {
    EXPECT_EQ(Do(cli::CmdPhonebook, {"add", "A", "12 3"}).status, cli::kFailed);
    EXPECT_EQ(Do(cli::CmdPhonebook, {"add", "", "1"}).status, cli::kFailed);
    EXPECT_EQ(prompt.texts().back(), u"Please enter name.");
    EXPECT_EQ(Do(cli::CmdPhonebook, {"add", "Zed", "+1"}).out, "sim:1\n");
    // Before the first synchronisation only the SIM's default range is known.
    EXPECT_EQ(Do(cli::CmdPhonebook, {"import", ContactId("Smith John"), "--phone"}).status,
              cli::kFailed);
    EXPECT_EQ(prompt.texts().back().substr(0, 20), u"First you have to sy");
    EXPECT_EQ(Do(cli::CmdPhonebook, {"import", ContactId("Smith John"), "--sim"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdPhonebook, {"edit", "sim:1", "Zed", "+2"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdPhonebook, {"delete", "sim:2"}).status, cli::kOk);
    EXPECT_EQ(Do(cli::CmdPhonebook, {"delete", "sim:9"}).status, cli::kFailed);
    CmdRun list = Do(cli::CmdPhonebook, {"list"});
    EXPECT_EQ(list.out,
              "sim:3\tSmith John/H\t0302\t(not on the phone yet)\n"
              "sim:1\tZed\t+2\t(not on the phone yet)\n");
    EXPECT_EQ(Do(cli::CmdPhonebook, {"export", "sim:3"}).status, cli::kOk);
    EXPECT_EQ(prompt.texts().back(), u"Entries successfully exported");
    EXPECT_NE(ContactId("Smith John/H"), "?");
}

}  // namespace
