// What a synchronisation's errors mean on this machine, and what the user can
// do: the texts of the error list are the program's own and stay as they are;
// these lines follow them in every front end.
#pragma once

#include <filesystem>
#include <string>

#include "parlo/store/sync_lock.h"

namespace parlo {

class CParloDoc;

// Further lines for the error list `errors` of the last run of `doc`; empty
// when there is nothing to add. Looks at who holds "vok.lock" and the phone's
// port when the run could not take them.
std::u16string ErrorHints(CParloDoc& doc, const std::u16string& errors);

// The hint for an operator missing from the device database.
std::u16string UnknownOperatorHint();
// The hint for a port name that names no device here (a port chosen in
// Options that does not exist).
std::string PortUnknownHint(const std::string& port);

// The hint when another program holds "vok.lock" (in `dir`); empty when no
// holder can be seen.
std::u16string LockHolderHint(const std::filesystem::path& dir);

// What the synchronisation that held "vok.lock" was doing, and in which
// program: a phonebook synchronisation, a message synchronisation or a call.
std::u16string SyncHolderHint(const SyncHolder& holder);

}  // namespace parlo
