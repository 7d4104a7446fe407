#include "parlo/app/qt/dialogs.h"

#include "parlo/app/parlo_doc.h"
#include "platform/prompt.h"

namespace parlo {

void ShowNotAvailable(const DialogContext& ctx, const char16_t* what) {
    if (ctx.doc && ctx.doc->GetPrompt())
        ctx.doc->GetPrompt()->MessageBox(std::u16string(what) + u": not available yet.",
                                         platform::Buttons::Ok, platform::Icon::Information, u"");
}

// Each member runs its dialog; replace a ShowNotAvailable line with the call
// of the dialog when it exists.

void ParloDialogs::Compose(const DialogContext& ctx, int mode, CSmsMessage* record,
                           const std::u16string& number, const std::u16string& text) {
    (void)mode, (void)record, (void)number, (void)text;
    ShowNotAvailable(ctx, u"SMS");
}

void ParloDialogs::Folders(const DialogContext& ctx) {
    ShowNotAvailable(ctx, u"Add/Remove Folders");
}

bool ParloDialogs::DestinationFolder(const DialogContext& ctx, int32_t* folder_id) {
    (void)folder_id;
    ShowNotAvailable(ctx, u"Move to folder");
    return false;
}

void ParloDialogs::Options(const DialogContext& ctx) {
    ShowNotAvailable(ctx, u"Options");
}

void ParloDialogs::Phonebook(const DialogContext& ctx) {
    ShowNotAvailable(ctx, u"Phonebook");
}

void ParloDialogs::Groups(const DialogContext& ctx) {
    ShowNotAvailable(ctx, u"Define SMS Groups");
}

bool ParloDialogs::PickRecipients(const DialogContext& ctx, std::u16string* numbers) {
    (void)numbers;
    ShowNotAvailable(ctx, u"Recipients");
    return false;
}

std::unique_ptr<IParloDialogs> CreateParloDialogs() {
    return std::make_unique<ParloDialogs>();
}

}  // namespace parlo
