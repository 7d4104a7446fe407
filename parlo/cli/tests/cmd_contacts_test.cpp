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
#include "platform/text.h"

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

// What the storage takes is checked when an entry is made, with a message
// that says why, a failed exit status and nothing saved.
TEST_F(CliContactsTest, PhonebookAddKeepsToTheStoragesLimits) {
    // The phone's storage is unknown before the first synchronisation: that
    // is what the user hears, not that a memory is full.
    CmdRun phone = Do(cli::CmdPhonebook, {"add", "Eva", "0170", "--phone"});
    EXPECT_EQ(phone.status, cli::kFailed);
    EXPECT_NE(prompt.texts().back().find(u"has not been read yet"), std::u16string::npos);
    EXPECT_EQ(prompt.texts().back().find(u"full"), std::u16string::npos);

    // The SIM's default descriptor: 20 characters, 20 digits.
    struct Refused {
        std::string name, number;
        std::u16string says;
    } refused[] = {
        {"Twenty-one characters", "0170", u"is too long for the phone: it takes 20 characters"},
        // Outside the GSM alphabet a character takes two: nine fit.
        {"\xd0\x9f\xd0\xb5\xd1\x82\xd1\x80\xd0\xbe\xd0\xb2 \xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd",
         "0170", u"(9 with letters outside the GSM alphabet)"},
        {"Eva", "017012345678901234567", u"The number is too long for the phone: it takes 20"},
        {"Eva", "0170;0171", u"holds one number"},
        {"Eva", "0170+1", u"'+' can only stand at the start"},
    };
    for (const Refused& r : refused) {
        CmdRun add = Do(cli::CmdPhonebook, {"add", r.name, r.number});
        EXPECT_EQ(add.status, cli::kFailed) << r.name << " " << r.number;
        EXPECT_EQ(add.out, "");
        EXPECT_NE(prompt.texts().back().find(r.says), std::u16string::npos)
            << r.name << " " << r.number << ": " << platform::ToUtf8(prompt.texts().back());
    }
    // Blanks or letters: parlo-cli says what a number may hold.
    CmdRun blank = Do(cli::CmdPhonebook, {"add", "Eva", "0170 1"});
    EXPECT_EQ(blank.status, cli::kFailed);
    EXPECT_NE(blank.err.find("only digits"), std::string::npos) << blank.err;
    EXPECT_EQ(Do(cli::CmdPhonebook, {"list"}).out, "");

    // At the limits the entry is made.
    CmdRun fits = Do(cli::CmdPhonebook, {"add", "Twenty characters ok", "+01701234567890123456"});
    EXPECT_EQ(fits.status, cli::kOk) << platform::ToUtf8(prompt.texts().back());
    EXPECT_EQ(fits.out, "sim:1\n");
}

TEST_F(CliContactsTest, PhonebookImportKeepsWhatFitsAndNamesTheRest) {
    parlo::testing::WriteText(tmp.path() / "contacts" / "book" / "c.vcf",
                              "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c\r\n"
                              "N:Bartholomew;Alexandra;;;\r\nTEL;TYPE=CELL:0171\r\n"
                              "TEL;TYPE=HOME:0172\r\nEND:VCARD\r\n");
    // "Bartholomew Alexandra/M" does not fit the SIM; Smith's numbers do.
    CmdRun r = Do(cli::CmdPhonebook,
                  {"import", ContactId("Smith John"), ContactId("Bartholomew Alexandra"), "--sim"});
    EXPECT_EQ(r.status, cli::kFailed);
    EXPECT_EQ(r.out, "2 entries imported\n");
    const std::u16string said = prompt.texts().back();
    EXPECT_EQ(said.rfind(u"These entries were not imported:", 0), 0u) << platform::ToUtf8(said);
    EXPECT_NE(said.find(u"Bartholomew Alexandra/M: The name"), std::u16string::npos);
    EXPECT_NE(said.find(u"Bartholomew Alexandra/H: The name"), std::u16string::npos);
    EXPECT_EQ(Do(cli::CmdPhonebook, {"list"}).out,
              "sim:2\tSmith John/H\t0302\t(not on the phone yet)\n"
              "sim:1\tSmith John/M\t+491701\t(not on the phone yet)\n");

    // Running out of indices keeps what was imported up to then.
    for (int i = 0; i < 17; ++i)
        ASSERT_EQ(Do(cli::CmdPhonebook, {"add", "N" + std::to_string(i), "1"}).status, cli::kOk);
    CmdRun full = Do(cli::CmdPhonebook, {"import", ContactId("Smith John"), "--sim"});
    EXPECT_EQ(full.status, cli::kFailed);
    EXPECT_EQ(full.out, "1 entry imported\n");
    EXPECT_NE(prompt.texts().back().find(u"1 entry was imported, the others were not."),
              std::u16string::npos)
        << platform::ToUtf8(prompt.texts().back());
    CmdRun list = Do(cli::CmdPhonebook, {"list"});
    EXPECT_NE(list.out.find("sim:20\tSmith John/M\t+491701"), std::string::npos) << list.out;
}

}  // namespace
