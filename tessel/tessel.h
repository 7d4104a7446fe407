// Tessel, the Contacts menu extension: "Send SMS" on a contact hands the
// contact's cell number to the SMS client through the file "newsms.tmp" in
// the installation directory and starts the client.
//
// The library exports CePimCommand with a C interface, as the address book
// that loads it expects; the launcher program `tessel` plays that address
// book on the command line.
#pragma once

#include <stdint.h>

#include "platform/process.h"

namespace platform {
class Prompt;
}

#define TESSEL_API extern "C" __attribute__((visibility("default")))

// The menu command: `count` items of type `item_type` are selected, their
// contact ids (OIDs) in `oids`. Only the first is used; the window handle,
// the item type and `reserved` are ignored.
TESSEL_API void CePimCommand(void* owner_window, int item_type, unsigned int count,
                             const uint32_t* oids, void* reserved);

// A host program with message boxes of its own shows the library's messages
// with `prompt` (nullptr: the library's own desktop dialogs again).
TESSEL_API void TesselSetPrompt(platform::Prompt* prompt);

// Test hooks: message boxes go to `prompt` (nullptr: the desktop again);
// program starts go to `starter` (nullptr: real starts).
TESSEL_API void TesselSetPromptForTesting(platform::Prompt* prompt);
TESSEL_API void TesselSetProgramStarterForTesting(const platform::ProgramStarter* starter);
