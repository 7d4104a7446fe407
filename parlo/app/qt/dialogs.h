// The dialogs of the SMS client, as the main window calls them.
//
// The frame and the view call only this interface, so that their tests can
// replace it with a recorder and need no nested modal loops.
//
// Adding a dialog: write it in a file of its own beside this one
// (compose_dialog.h/.cpp, folders_dialog..., options_dialog...,
// phonebook_dialog..., recipients_dialog...), add the .cpp to the list in
// CMakeLists.txt, and make the matching member of ParloDialogs in dialogs.cpp
// run it in place of its "not available yet" message. ParloDialogs is what
// the Parlo program uses (CreateParloDialogs); nothing else needs to change.
//
// Every member runs its dialog modally on the GUI thread and returns when it
// is closed. `parent` is the main window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QObject;
class QWidget;

namespace parlo {

class CParloDoc;
class CSmsMessage;

struct DialogContext {
    QWidget* parent = nullptr;
    CParloDoc* doc = nullptr;
    // The selected record of the current list, or null (Reply and Forward
    // of the compose dialog).
    std::function<CSmsMessage*()> selected;
    // Calls `call` whenever the folders change while `receiver` lives (a
    // dialog that lists them follows other programs' changes).
    std::function<void(QObject* receiver, std::function<void()> call)> on_folders_changed;
};

class IParloDialogs {
  public:
    virtual ~IParloDialogs() = default;

    // The compose and read dialog. `mode` is the folder view code of the
    // list it was opened from (1..7) or 10 (VIEW_NEW) for a new message;
    // `record` is the record shown (null for a new message); `number` and
    // `text` prefill Phone and the message text.
    virtual void Compose(const DialogContext& ctx, int mode, CSmsMessage* record,
                         const std::u16string& number, const std::u16string& text) = 0;
    // "Add/Remove Folders".
    virtual void Folders(const DialogContext& ctx) = 0;
    // The destination folder of "Move to folder": true and the folder id
    // when one was chosen, false on Cancel.
    virtual bool DestinationFolder(const DialogContext& ctx, int32_t* folder_id) = 0;
    // "Options...".
    virtual void Options(const DialogContext& ctx) = 0;
    // "Phonebook...".
    virtual void Phonebook(const DialogContext& ctx) = 0;
    // "Define SMS Groups...".
    virtual void Groups(const DialogContext& ctx) = 0;
    // The recipient picker ("..." of the compose dialog): true and the
    // chosen numbers (";"-separated), false on Cancel.
    virtual bool PickRecipients(const DialogContext& ctx, std::u16string* numbers) = 0;
};

// The dialogs of the Parlo program (dialogs.cpp). A dialog that is not built
// yet shows "not available yet" and changes nothing.
class ParloDialogs : public IParloDialogs {
  public:
    void Compose(const DialogContext& ctx, int mode, CSmsMessage* record,
                 const std::u16string& number, const std::u16string& text) override;
    void Folders(const DialogContext& ctx) override;
    bool DestinationFolder(const DialogContext& ctx, int32_t* folder_id) override;
    void Options(const DialogContext& ctx) override;
    void Phonebook(const DialogContext& ctx) override;
    void Groups(const DialogContext& ctx) override;
    bool PickRecipients(const DialogContext& ctx, std::u16string* numbers) override;
};

std::unique_ptr<IParloDialogs> CreateParloDialogs();

}  // namespace parlo
