// The installer's tables and its package starter.
#include "install/installer.h"

#include <gtest/gtest.h>

#include "install/package.h"
#include "install/tests/test_support.h"
#include "install_strings.h"

namespace install {
namespace {

using install_test::TempDir;

const Language kAll[] = {Language::English, Language::German, Language::French, Language::Italian};

std::vector<unsigned> IdsOf(const TextIds& t) {
    return {t.next,
            t.cancel,
            t.welcome_caption,
            t.language_caption,
            t.language_label,
            t.agreement_caption,
            t.accept,
            t.decline,
            t.instructions_caption,
            t.instruction_text,
            t.success,
            t.failure,
            t.installing};
}

TEST(InstallerStrings, EveryLanguageHasAllItsTexts) {
    const platform::StringTable& table = strings::install();
    for (Language language : kAll) {
        for (unsigned id : IdsOf(TextsOf(language))) {
            EXPECT_FALSE(table.Load(id).empty()) << "id " << id;
        }
    }
    EXPECT_EQ(table.Load(kIdLanguageGlobal), u"english");
    EXPECT_EQ(table.Load(kIdVariantGlobal), u"tw");
    EXPECT_EQ(table.Load(kIdInfoFrame), u"Info");
}

TEST(InstallerStrings, FrenchAndItalianShowTheEnglishTexts) {
    const platform::StringTable& table = strings::install();
    const std::vector<unsigned> english = IdsOf(TextsOf(Language::English));
    for (Language language : {Language::French, Language::Italian}) {
        const std::vector<unsigned> ids = IdsOf(TextsOf(language));
        for (size_t i = 0; i < ids.size(); ++i) {
            EXPECT_EQ(table.Load(ids[i]), table.Load(english[i])) << "id " << ids[i];
        }
    }
    // German differs in every text but the product name and "Information".
    const std::vector<unsigned> german = IdsOf(TextsOf(Language::German));
    EXPECT_EQ(table.Load(german[0]), u"Weiter");
    EXPECT_EQ(table.Load(german[11]), u"Fehler bei der Installation!");
    EXPECT_NE(table.Load(german[9]), table.Load(english[9]));
    EXPECT_NE(table.Load(german[10]), table.Load(english[10]));
}

TEST(InstallerLanguage, GlobalsRoundTripAndUnknownIsEnglish) {
    for (Language language : kAll) {
        EXPECT_EQ(LanguageFromGlobal(GlobalOfLanguage(language)), language);
    }
    EXPECT_EQ(GlobalOfLanguage(Language::German), u"german");
    EXPECT_EQ(LanguageFromGlobal(u"German"), Language::English);
    EXPECT_EQ(LanguageFromGlobal(u""), Language::English);
}

TEST(InstallerAgreement, TextByLanguageAndVariant) {
    const std::u16string german = GermanAgreement();
    const std::u16string english = EnglishAgreement();
    ASSERT_GT(german.size(), 500u);
    ASSERT_GT(english.size(), 500u);
    EXPECT_EQ(AgreementText(Language::German, u"tw"), german);
    EXPECT_EQ(AgreementText(Language::English, u"tw"), english);
    EXPECT_EQ(AgreementText(Language::French, u"tw"), english);
    EXPECT_EQ(AgreementText(Language::Italian, u"tw"), english);

    EXPECT_NE(AgreementText(Language::German, u"telvara").find(u"getGermanLicense_telvara"),
              std::u16string::npos);
    EXPECT_EQ(AgreementText(Language::English, u"telvara"), u"");
    EXPECT_EQ(AgreementText(Language::French, u"telvara"), u"");
    EXPECT_EQ(AgreementText(Language::Italian, u"telvara"), u"");

    EXPECT_NE(AgreementText(Language::German, u"brenn").find(u"getGermanLicense_brenn"),
              std::u16string::npos);
    EXPECT_NE(AgreementText(Language::English, u"brenn").find(u"getEnglishLicense_brenn"),
              std::u16string::npos);
    EXPECT_NE(AgreementText(Language::French, u"brenn").find(u"getEnglishLicense_brenn"),
              std::u16string::npos);
    EXPECT_EQ(AgreementText(Language::Italian, u"brenn"), u"");
    // The placeholders are one line.
    EXPECT_EQ(AgreementText(Language::German, u"brenn").find(u'\n'), std::u16string::npos);
}

TEST(PackageTimeout, EnvironmentShortensBothWaits) {
    unsetenv("SKYVANE_INSTALL_TIMEOUT_MS");
    EXPECT_EQ(PackageTimeout(120000), 120000);
    setenv("SKYVANE_INSTALL_TIMEOUT_MS", "250", 1);
    EXPECT_EQ(PackageTimeout(120000), 250);
    EXPECT_EQ(PackageTimeout(240000), 250);
    for (const char* bad : {"", "0", "-5", "12ms", "99999999999999999999"}) {
        setenv("SKYVANE_INSTALL_TIMEOUT_MS", bad, 1);
        EXPECT_EQ(PackageTimeout(120000), 120000) << bad;
    }
    unsetenv("SKYVANE_INSTALL_TIMEOUT_MS");
}

TEST(PackageProcess, MissingOrNotExecutableCannotStart) {
    TempDir dir;
    PackageProcess missing;
    EXPECT_FALSE(missing.Start(dir.path() / "updater_eng.bin"));
    const auto plain = dir.path() / "app_eng.bin";
    std::ofstream(plain) << "#!/bin/sh\nexit 0\n";
    std::filesystem::permissions(
        plain, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    PackageProcess not_executable;
    EXPECT_FALSE(not_executable.Start(plain));
}

TEST(PackageProcess, WaitsForTheEndOrTheTimeout) {
    TempDir dir;
    const auto log = dir.path() / "log";
    install_test::WritePackage(dir.path() / "quick.bin", log, 0);
    PackageProcess quick;
    ASSERT_TRUE(quick.Start(dir.path() / "quick.bin"));
    EXPECT_TRUE(quick.Wait(60000));
    EXPECT_TRUE(quick.Reap());

    install_test::WritePackage(dir.path() / "slow.bin", log, 60);
    PackageProcess slow;
    ASSERT_TRUE(slow.Start(dir.path() / "slow.bin"));
    EXPECT_FALSE(slow.Wait(100));
    kill(slow.pid(), SIGKILL);
    EXPECT_TRUE(slow.Wait(60000));
    install_test::KillSleepers(log);
}

}  // namespace
}  // namespace install
