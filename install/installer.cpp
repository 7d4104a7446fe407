#include "install/installer.h"

namespace install {

namespace {

constexpr TextIds kTexts[4] = {
    // next, cancel, welcome, language caption, label, agreement caption, accept,
    // decline, instructions caption, instruction text, success, failure
    {3, 4, 27, 23, 9, 25, 14, 15, 28, 11, 16, 20, 48},   // English
    {6, 7, 26, 22, 8, 24, 12, 13, 21, 10, 5, 19, 49},    // German
    {3, 4, 44, 40, 30, 42, 34, 36, 46, 32, 17, 38, 50},  // French
    {3, 4, 45, 41, 31, 43, 35, 37, 47, 33, 29, 39, 51},  // Italian
};

constexpr Packages kPackages[4] = {
    {"updater_eng.bin", "app_eng.bin"},
    {"updater_ger.bin", "app_ger.bin"},
    {"updater_fra.bin", "app_fra.bin"},
    {"updater_ita.bin", "app_ita.bin"},
};

constexpr const char16_t* kGlobals[4] = {u"english", u"german", u"french", u"italian"};

size_t Index(Language language) {
    auto i = static_cast<size_t>(language);
    return i < 4 ? i : 0;
}

}  // namespace

Language LanguageFromGlobal(std::u16string_view global) {
    for (size_t i = 0; i < 4; ++i) {
        if (global == kGlobals[i])
            return static_cast<Language>(i);
    }
    return Language::English;
}

std::u16string GlobalOfLanguage(Language language) {
    return kGlobals[Index(language)];
}

const TextIds& TextsOf(Language language) {
    return kTexts[Index(language)];
}

Packages PackagesOf(Language language) {
    return kPackages[Index(language)];
}

std::u16string AgreementText(Language language, std::u16string_view variant) {
    const bool telvara = variant == u"telvara";
    const bool brenn = variant == u"brenn";
    switch (language) {
        case Language::German:
            if (telvara)
                return u"CLicenseDlg::getGermanLicense_telvara";
            if (brenn)
                return u"CLicenseDlg::getGermanLicense_brenn";
            return GermanAgreement();
        case Language::English:
        case Language::French:
            if (telvara)
                return u"";
            if (brenn)
                return u"CLicenseDlg::getEnglishLicense_brenn";
            return EnglishAgreement();
        case Language::Italian:
            if (telvara || brenn)
                return u"";
            return EnglishAgreement();
    }
    return EnglishAgreement();
}

}  // namespace install
