#include "tessel/tessel.h"

#include <string>

#include "parlo/contacts/contacts_dir.h"
#include "parlo/contacts/handoff_file.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "tessel/desktop_prompt.h"
#include "tessel_strings.h"

namespace {

constexpr unsigned kIdNoMobile = 1;

platform::Prompt* g_test_prompt = nullptr;
platform::Prompt* g_host_prompt = nullptr;

platform::Prompt& CurrentPrompt() {
    static tessel::DesktopPrompt desktop;
    if (g_test_prompt)
        return *g_test_prompt;
    return g_host_prompt ? *g_host_prompt : desktop;
}

void Error(const char16_t* text) {
    CurrentPrompt().MessageBox(text, platform::Buttons::Ok, platform::Icon::None, u"Error");
}

}  // namespace

TESSEL_API void CePimCommand(void* /*owner_window*/, int /*item_type*/, unsigned int count,
                             const uint32_t* oids, void* /*reserved*/) {
    if (count == 0 || oids == nullptr)
        return;
    const std::filesystem::path dir = platform::InstallDir();

    // The contact store stands in for the address book's object model: the
    // folder that cannot be opened, an address book that cannot be listed and
    // a contact file that cannot be read give the three set-up messages.
    parlo::ContactsDir contacts = parlo::ContactsDir::Default();
    std::vector<parlo::StoredContact> all;
    switch (contacts.Load(&all)) {
        case parlo::ContactsStatus::kOk:
            break;
        case parlo::ContactsStatus::kRootUnusable:
            Error(u"Initialize failed");
            return;
        case parlo::ContactsStatus::kBookUnreadable:
            Error(u"Create instance failed");
            return;
        case parlo::ContactsStatus::kFileFailed:
            Error(u"Logon failed");
            return;
    }
    const parlo::StoredContact* contact = nullptr;
    for (const parlo::StoredContact& c : all) {
        if (c.oid == oids[0]) {
            contact = &c;
            break;
        }
    }
    if (!contact) {
        Error(u"Get contacts item failed");
        return;
    }
    // The cell number as written in the card, uncleaned.
    const std::u16string& number = contact->card.mobile;
    if (number.empty()) {
        CurrentPrompt().MessageBox(strings::tessel().Load(kIdNoMobile), platform::Buttons::Ok,
                                   platform::Icon::Warning, u"");
        return;
    }
    // The client reads at most 199 characters; a longer text is no phone
    // number of a real contact.
    if (!parlo::WriteHandoffFile(dir,
                                 std::u16string_view(number).substr(0, parlo::kHandoffMaxUnits)))
        return;
    std::filesystem::path program = platform::ResolveProgram(dir, "Parlo.exe");
    if (!program.empty())
        platform::StartDetached(program, {});
}

TESSEL_API void TesselSetPrompt(platform::Prompt* prompt) {
    g_host_prompt = prompt;
}

TESSEL_API void TesselSetPromptForTesting(platform::Prompt* prompt) {
    g_test_prompt = prompt;
}

TESSEL_API void TesselSetProgramStarterForTesting(const platform::ProgramStarter* starter) {
    platform::SetProgramStarterForTesting(starter ? *starter : platform::ProgramStarter());
}
