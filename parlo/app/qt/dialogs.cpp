#include "parlo/app/qt/dialogs.h"

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/compose_dialog.h"
#include "parlo/app/qt/folder_choice_dialog.h"
#include "parlo/app/qt/folders_dialog.h"
#include "parlo/app/qt/groups_dialog.h"
#include "parlo/app/qt/options_dialog.h"
#include "parlo/app/qt/phonebook_dialog.h"
#include "parlo/app/qt/recipients_dialog.h"
#include "platform/prompt.h"

namespace parlo {

void ParloDialogs::Compose(const DialogContext& ctx, int mode, CSmsMessage* record,
                           const std::u16string& number, const std::u16string& text) {
    if (!ctx.doc || !ctx.doc->GetPrompt())
        return;
    CParloDoc& doc = *ctx.doc;
    CSmsMessage shown;
    const bool have_copy = record && doc.Store().Read(record, &shown);
    const bool push = have_copy && shown.m_nState == STATE_OUTBOX_PUSH;
    ComposeDialog dialog(doc, *doc.GetPrompt(), mode, record, number, text, push, ctx.parent);
    dialog.SetRecipientPicker([this, ctx](QWidget* parent) -> std::optional<std::u16string> {
        DialogContext picker_ctx = ctx;
        picker_ctx.parent = parent;
        std::u16string numbers;
        if (!PickRecipients(picker_ctx, &numbers))
            return std::nullopt;
        return numbers;
    });
    dialog.exec();
    // Reply and Forward close this dialog and open a new message.
    const ComposeDialog::Next next = dialog.NextAction();
    if (next == ComposeDialog::Next::kNone || !have_copy)
        return;
    if (next == ComposeDialog::Next::kReply)
        Compose(ctx, VIEW_NEW, nullptr, shown.m_strNumber, u"");
    else
        Compose(ctx, VIEW_NEW, nullptr, u"", shown.m_strText);
}

void ParloDialogs::Folders(const DialogContext& ctx) {
    if (!ctx.doc)
        return;
    FoldersDialog dialog(*ctx.doc, ctx.parent);
    if (ctx.on_folders_changed)
        ctx.on_folders_changed(&dialog, [&dialog] { dialog.FoldersChanged(); });
    dialog.exec();
}

bool ParloDialogs::DestinationFolder(const DialogContext& ctx, int32_t* folder_id) {
    if (!ctx.doc)
        return false;
    const int32_t id = ChooseFolder(*ctx.doc, ctx.parent);
    if (id < 0)
        return false;
    *folder_id = id;
    return true;
}

void ParloDialogs::Options(const DialogContext& ctx) {
    if (!ctx.doc || !ctx.doc->GetPrompt())
        return;
    RunOptions(*ctx.doc, *ctx.doc->GetPrompt(), ctx.parent);
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
