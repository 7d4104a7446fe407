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

// A record id is its 1-based position in the message list ("7" or "#7").
parlo::CSmsMessage* FindRecord(parlo::CParloDoc& doc, const std::string& id);
int RecordId(parlo::CParloDoc& doc, const parlo::CSmsMessage* rec);

// A folder by name (exact, else ignoring ASCII case) or by id.
parlo::CSmsFolder* FindFolder(parlo::CParloDoc& doc, const std::string& name);

// "unread", "outbox", "folder Work", ...
std::string StateName(parlo::CParloDoc& doc, const parlo::CSmsMessage& rec);

// The text on one line: line breaks become blanks, cut to `max` characters
// (0: not cut).
std::string OneLine(const std::u16string& text, size_t max);

bool ParseOnOff(const std::string& word, int* out);

}  // namespace cli
