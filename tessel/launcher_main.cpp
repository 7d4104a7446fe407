// tessel: the "Send SMS" action of an address book. Takes contact ids (OIDs,
// decimal or 0x hexadecimal), vCard UIDs or .vcf files and hands them to the
// Contacts menu extension libtessel.so, as the Contacts application does.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "parlo/contacts/contacts_dir.h"
#include "platform/paths.h"
#include "platform/program_info.h"
#include "platform/prompt.h"
#include "platform/text.h"
#ifdef SKYVANE_LAUNCHER_QT
#include "tessel/launcher_prompt.h"
#endif

namespace {

using PimCommand = void (*)(void*, int, unsigned int, const uint32_t*, void*);
using SetPrompt = void (*)(platform::Prompt*);

constexpr int kContactItemType = 0;  // the address book's "contact" item type

void Usage(std::ostream& out) {
    out << "Usage: tessel CONTACT...\n\n"
           "Starts a new SMS to the cell number of the first CONTACT: a contact id\n"
           "(as parlo-cli contacts list shows it), a vCard UID or a .vcf file of the\n"
           "address book ($SKYVANE_CONTACTS, else ~/.contacts).\n\n"
           "  --help     show this help\n"
           "  --version  show the version\n";
}

bool ParseOid(const std::string& s, uint32_t* oid) {
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || v > 0xFFFFFFFFull || s[0] == '-')
        return false;
    *oid = static_cast<uint32_t>(v);
    return true;
}

// The OID of a .vcf file (its first card).
bool OidOfFile(const parlo::ContactsDir& dir, const std::filesystem::path& file, uint32_t* oid) {
    std::vector<parlo::StoredContact> all;
    if (dir.Load(&all) != parlo::ContactsStatus::kOk)
        return false;
    std::error_code ec;
    for (const parlo::StoredContact& c : all) {
        if (std::filesystem::equivalent(c.file, file, ec)) {
            *oid = c.oid;
            return true;
        }
    }
    return false;
}

void* OpenLibrary() {
    std::vector<std::filesystem::path> candidates = {
        platform::BinDir() / ".." / "lib" / "libtessel.so",
        platform::BinDir() / "libtessel.so",
    };
    for (const auto& p : candidates) {
        if (void* h = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL))
            return h;
    }
    return dlopen("libtessel.so", RTLD_NOW | RTLD_LOCAL);
}

// A contact that cannot be taken: the desktop starts this program without a
// terminal, so the reason goes into a message box when a display is present,
// else to standard error.
int Refuse(const std::string& text) {
#ifdef SKYVANE_LAUNCHER_QT
    tessel::LauncherPrompt prompt;
    prompt.MessageBox(platform::FromUtf8(text), platform::Buttons::Ok, platform::Icon::Warning,
                      u"tessel");
#else
    std::cerr << "tessel: " << text << "\n";
#endif
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before the address book and the installation are looked at.
    switch (platform::FindInfoOption(argc, argv)) {
        case platform::InfoOption::kHelp:
            Usage(std::cout);
            return 0;
        case platform::InfoOption::kVersion:
            std::cout << "tessel " << platform::SuiteVersion() << "\n";
            return 0;
        case platform::InfoOption::kNone:
            break;
    }
    std::vector<uint32_t> oids;
    parlo::ContactsDir dir = parlo::ContactsDir::Default();
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        uint32_t oid = 0;
        parlo::StoredContact found;
        if (ParseOid(a, &oid)) {
            oids.push_back(oid);
        } else if (a.size() > 4 && a.compare(a.size() - 4, 4, ".vcf") == 0 &&
                   std::filesystem::exists(a)) {
            if (!OidOfFile(dir, a, &oid))
                return Refuse(a + " is not a contact of the address book (" + dir.root().string() +
                              "), so it has no number to send to.");
            oids.push_back(oid);
        } else if (parlo::FindContactByUid(dir, platform::FromUtf8(a), &found)) {
            oids.push_back(found.oid);
        } else {
            return Refuse("There is no contact " + a + " in the address book.");
        }
    }
    if (oids.empty()) {
        Usage(std::cerr);
        return 2;
    }
    void* lib = OpenLibrary();
    PimCommand command = lib ? reinterpret_cast<PimCommand>(dlsym(lib, "CePimCommand")) : nullptr;
    if (!command) {
        std::cerr << "tessel: cannot load libtessel.so: " << dlerror() << "\n";
        return 1;
    }
#ifdef SKYVANE_LAUNCHER_QT
    // The library's messages in our own message boxes, not only through a
    // desktop dialog program that may be missing.
    tessel::LauncherPrompt prompt;
    auto set_prompt = reinterpret_cast<SetPrompt>(dlsym(lib, "TesselSetPrompt"));
    if (set_prompt)
        set_prompt(&prompt);
#endif
    command(nullptr, kContactItemType, static_cast<unsigned>(oids.size()), oids.data(), nullptr);
#ifdef SKYVANE_LAUNCHER_QT
    if (set_prompt)
        set_prompt(nullptr);
#endif
    return 0;
}
