// What the installer wizard shows and starts, without any windows: the
// language and variant globals, the string ids of each language, the
// agreement text of each language and variant, and the package names.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace install {

// In the order of the language drop-down.
enum class Language { English = 0, German = 1, French = 2, Italian = 3 };

inline constexpr std::array<const char16_t*, 4> kLanguageEntries = {u"English", u"German",
                                                                    u"French", u"Italian"};

// The language global ("english", "german", "french", "italian"). Any other
// text counts as English.
Language LanguageFromGlobal(std::u16string_view global);
std::u16string GlobalOfLanguage(Language language);

// String ids of the texts of one language. French and Italian carry English
// texts under ids of their own.
struct TextIds {
    unsigned next;
    unsigned cancel;
    unsigned welcome_caption;
    unsigned language_caption;
    unsigned language_label;
    unsigned agreement_caption;
    unsigned accept;
    unsigned decline;
    unsigned instructions_caption;
    unsigned instruction_text;
    unsigned success;
    unsigned failure;
    unsigned installing;  // "Installing %s ...", shown while a package runs
};
const TextIds& TextsOf(Language language);

// Ids that do not depend on the language.
inline constexpr unsigned kIdLanguageGlobal = 1;
inline constexpr unsigned kIdVariantGlobal = 2;
inline constexpr unsigned kIdInfoFrame = 18;

// The agreement text shown for a language and distribution variant ("tw",
// "telvara", "brenn"); an unknown variant is treated as "tw".
std::u16string AgreementText(Language language, std::u16string_view variant);

// The two agreement texts held in the program.
const char16_t* GermanAgreement();
const char16_t* EnglishAgreement();

// The package programs, started in this order from the installer's directory.
struct Packages {
    const char* updater;
    const char* suite;
};
Packages PackagesOf(Language language);

// How long the installer waits for each package to end (ms); a time-out
// counts as finished.
inline constexpr int kFirstPackageTimeoutMs = 120000;
inline constexpr int kSecondPackageTimeoutMs = 240000;

}  // namespace install
