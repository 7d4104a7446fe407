// Helpers of the commands that work on the message store, the folders, the
// device database, the modems and the settings: opening the document without
// the phone, record ids, folder names, state names.
#pragma once

#include <string>
#include <vector>

#include "parlo/app/parlo_doc.h"
#include "parlo/cli/cli.h"

namespace cli {

// Runs the document's start sequence without requiring a modem and without
// the automatic synchronisation: commands that do not touch the phone work on
// an installation where no modem is registered yet.
bool OpenStoreDoc(Context& ctx, parlo::CParloDoc& doc);

// A message named on the command line, with the id it was named by. Ids
// are those of parlo/store/message_ids.h: they name the same message for as
// long as it exists, whatever other programs do in between.
struct Picked {
    parlo::CSmsMessage* rec;
    std::string id;
};
// The messages named by `ids`; reports an id that names no message (or no
// longer one message) and returns false.
bool PickRecords(Context& ctx, parlo::CParloDoc& doc, const std::vector<std::string>& ids,
                 std::vector<Picked>* out);
// Just before a command acts: takes in what other programs changed since the
// store was read and checks that every picked message is still there.
// Refuses (false, with the reason) when one is gone.
bool StillStored(Context& ctx, parlo::CParloDoc& doc, const std::vector<Picked>& picked);

// A folder by name (exact, else ignoring ASCII case) or by id.
parlo::CSmsFolder* FindFolder(parlo::CParloDoc& doc, const std::string& name);

// "unread", "outbox", "folder Work", ...
std::string StateName(parlo::CParloDoc& doc, const parlo::CSmsMessage& rec);

// The text on one line: line breaks become blanks, cut to `max` characters
// (0: not cut).
std::string OneLine(const std::u16string& text, size_t max);

bool ParseOnOff(const std::string& word, int* out);

}  // namespace cli
