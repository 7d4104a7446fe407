// The fixture of the phonebook synchronisation tests: a copy, a fake phone
// behind the link interface and a scratch data folder.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "parlo/contacts/phonebook_sync.h"
#include "parlo/contacts/tests/fake_phone.h"
#include "parlo/contacts/tests/temp_dir.h"
#include "parlo_strings.h"
#include "platform/prompt.h"

namespace parlo::testing {

class PhonebookSyncTest : public ::testing::Test {
  protected:
    // A run's context over `link`, without a settings save.
    PhonebookSyncContext Context(PhoneLink* link, uint32_t enabled, PhonebookSyncReport* report) {
        PhonebookSyncContext ctx;
        ctx.report = report;
        ctx.data_dir = tmp_.path();
        ctx.link = link;
        ctx.prompt = &prompt_;
        ctx.strings = &strings::parlo();
        ctx.enabled_flags = enabled;
        ctx.identity = &identity_;
        return ctx;
    }
    PhonebookSyncResult Sync(uint32_t enabled = STORAGE_FLAG_BOTH,
                             PhonebookSyncReport* report = nullptr) {
        PhonebookSyncContext ctx = Context(&phone_, enabled, report);
        ctx.save_settings = [this] {
            ++settings_saved_;
            return true;
        };
        return SynchronizePhonebook(&book_, ctx);
    }
    CPhonebookEntry* Local(uint32_t id) { return book_.FindById(id); }
    CPhonebookEntry* AddLocal(uint32_t id, std::u16string name, std::u16string number,
                              bool synced) {
        auto e = std::make_unique<CPhonebookEntry>(id, name, number);
        if (synced) {
            e->m_strSyncName = name;
            e->m_strSyncNumber = number;
        }
        book_.m_entries.push_back(std::move(e));
        return book_.m_entries.back().get();
    }
    FakeStorage& Sim() { return phone_.storages["SM"]; }

    TempDir tmp_;
    FakePhone phone_;
    platform::ScriptedPrompt prompt_;
    CPhonebook book_;
    std::u16string identity_ = u"0";
    int settings_saved_ = 0;
};

}  // namespace parlo::testing
