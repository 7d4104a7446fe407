#include "parlo/app/qt/dialogs.h"

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/groups_dialog.h"
#include "parlo/app/qt/phonebook_dialog.h"
#include "parlo/app/qt/recipients_dialog.h"
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
    if (!ctx.doc || !ctx.doc->GetPrompt())
        return;
    // "Send SMS" of the phonebook opens a new message to the entry's number.
    auto send_sms = [this, ctx](const std::u16string& number) {
        Compose(ctx, VIEW_NEW, nullptr, number, u"");
    };
    PhonebookDialog dialog(*ctx.doc, *ctx.doc->GetPrompt(), send_sms, ctx.parent);
    dialog.exec();
}

void ParloDialogs::Groups(const DialogContext& ctx) {
    if (!ctx.doc || !ctx.doc->GetPrompt())
        return;
    GroupsDialog dialog(*ctx.doc, *ctx.doc->GetPrompt(), ctx.parent);
    dialog.exec();
}

bool ParloDialogs::PickRecipients(const DialogContext& ctx, std::u16string* numbers) {
    if (!ctx.doc)
        return false;
    std::u16string picked = SelectPhoneNumbers(*ctx.doc, ctx.parent);
    if (picked.empty())
        return false;
    *numbers = picked;
    return true;
}

std::unique_ptr<IParloDialogs> CreateParloDialogs() {
    return std::make_unique<ParloDialogs>();
}

}  // namespace parlo
