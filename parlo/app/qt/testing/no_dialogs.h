// Dialogs for the window's tests and benches: none opens, every choice is
// Cancel.
#pragma once

#include <cstdint>
#include <string>

#include "parlo/app/qt/dialogs.h"

namespace parlo::testing {

class NoDialogs : public IParloDialogs {
  public:
    void Compose(const DialogContext&, int, CSmsMessage*, const std::u16string&,
                 const std::u16string&) override {}
    void Folders(const DialogContext&) override {}
    bool DestinationFolder(const DialogContext&, int32_t*) override { return false; }
    void Options(const DialogContext&) override {}
    void Phonebook(const DialogContext&) override {}
    void Groups(const DialogContext&) override {}
    bool PickRecipients(const DialogContext&, std::u16string*) override { return false; }
};

}  // namespace parlo::testing
