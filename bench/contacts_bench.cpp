// Contacts and phonebook: reading an address book of 2,000 vCards (as every
// recipient dialog does when it opens), expanding a group of 200 members, and
// synchronising a full 250-entry SIM against an in-process phone.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "parlo/contacts/contacts_dir.h"
#include "parlo/contacts/groups.h"
#include "parlo/contacts/phonebook.h"
#include "parlo/contacts/phonebook_sync.h"
#include "parlo_strings.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

fs::path ScratchDir(const char* name) {
    fs::path dir = fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

fs::path MakeAddressBook(int count) {
    fs::path dir = ScratchDir("contacts-bench");
    for (int i = 0; i < count; ++i) {
        std::string n = std::to_string(i);
        fs::path file = dir / "contacts" / (i % 2 ? "work" : "home") / (n + ".vcf");
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary)
            << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bench-" << n << "\r\nN:Family" << n
            << ";Given;;;\r\nFN:Given Family" << n << "\r\nTEL;TYPE=CELL:+49 170 " << n
            << "\r\nTEL;TYPE=WORK,VOICE:030 " << n
            << "\r\nEMAIL:someone@example.org\r\nNOTE:A note that is long enough to be\r\n  "
               "folded over two lines.\r\nEND:VCARD\r\n";
    }
    return dir;
}

void BM_ReadContacts(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    fs::path dir = MakeAddressBook(count);
    parlo::ContactsDir contacts(dir / "contacts", dir / "contacts.oid");
    platform::ScriptedPrompt prompt;
    parlo::ContactList list;
    for (auto _ : state) {
        parlo::ReadContacts(&list, prompt, contacts);
        benchmark::DoNotOptimize(list.size());
    }
    state.SetItemsProcessed(state.iterations() * count);
    fs::remove_all(dir);
}
BENCHMARK(BM_ReadContacts)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_ExpandGroup(benchmark::State& state) {
    fs::path dir = ScratchDir("groups-bench");
    parlo::ContactList contacts;
    parlo::GroupMemberList members;
    for (int i = 0; i < 2000; ++i) {
        std::u16string name = u"Family" + platform::FromUtf8(std::to_string(i));
        contacts.push_back(std::make_unique<parlo::CContactEntry>(
            name, u"+49 170 " + platform::FromUtf8(std::to_string(i)), u"", u"", u"", i + 1));
        if (i % 10 == 0) {
            auto m = std::make_unique<parlo::CGroupMember>();
            m->m_strSource = parlo::kContactsSource;
            m->m_nSourceId = i + 1;
            m->m_strMemberName = name;
            members.push_back(std::move(m));
        }
    }
    fs::create_directories(parlo::GroupsFolder(dir));
    parlo::SaveGroup(members, parlo::GroupPath(dir, u"Everyone"));
    parlo::CPhonebook book;
    parlo::MemberResolver resolver{&contacts, &book.m_entries, u"0", dir};
    for (auto _ : state) {
        benchmark::DoNotOptimize(parlo::ExpandGroup(u"Everyone", resolver));
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_ExpandGroup)->Unit(benchmark::kMicrosecond);

// A phone that answers at once: the cost of the synchronisation itself.
class InstantPhone : public parlo::PhoneLink {
  public:
    InstantPhone() {
        for (int i = 1; i <= 250; ++i)
            records[i] = {std::to_string(4900 + i), "Name " + std::to_string(i)};
    }
    void StartSAR() override {}
    int OpenPhone() override { return 1; }
    int IdentifyPhone() override { return 1; }
    void ClosePort() override {}
    void StopSAR() override {}
    int SendAndReceive(const std::string& c, std::u16string& reply, int) override {
        reply.clear();
        if (c == "AT+CGSN") {
            reply = u"350000000000001";
        } else if (c == "AT+CPBR=?") {
            reply = u"+CPBR: (1-250),40,18";
        } else if (int a = 0, b = 0; std::sscanf(c.c_str(), "AT+CPBR=%d,%d", &a, &b) == 2) {
            std::string out;
            for (int i = a; i <= b; ++i) {
                auto it = records.find(i);
                if (it == records.end())
                    continue;
                if (!out.empty())
                    out += "\r\n";
                out += "+CPBR: " + std::to_string(i) + ",\"" + it->second.first + "\",129,\"" +
                       it->second.second + "\"";
            }
            reply = platform::WidenBytes(out);
        }
        return 1;
    }
    std::map<int, std::pair<std::string, std::string>> records;
};

void BM_SynchronizeFullSim(benchmark::State& state) {
    fs::path dir = ScratchDir("pb-bench");
    InstantPhone phone;
    platform::ScriptedPrompt prompt;
    std::u16string identity = u"350000000000001";
    for (auto _ : state) {
        parlo::CPhonebook book;
        parlo::PhonebookSyncContext ctx;
        ctx.data_dir = dir;
        ctx.link = &phone;
        ctx.prompt = &prompt;
        ctx.strings = &strings::parlo();
        ctx.enabled_flags = parlo::STORAGE_FLAG_SIM;
        ctx.identity = &identity;
        benchmark::DoNotOptimize(parlo::SynchronizePhonebook(&book, ctx));
        prompt.Clear();
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_SynchronizeFullSim)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
