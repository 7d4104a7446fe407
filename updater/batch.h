// "updater --batch <command line>": the whole update without windows.
#pragma once

#include <ostream>
#include <string>

#include "updater/engine.h"

namespace updater {

// Exit statuses of the batch mode.
enum BatchStatus {
    BATCH_UPDATED = 0,         // files installed
    BATCH_ERROR = 1,           // network, server list, download or file error
    BATCH_NO_UPDATES = 2,      // nothing newer on the server
    BATCH_APP_RUNNING = 3,     // the application is still running
    BATCH_RESTART_NEEDED = 4,  // files wait in \windows\temp for "copy" at the next start
    BATCH_HANDED_OVER = 5,     // the updater's own files went to "SelfUpdate"
    BATCH_REFUSED = 6,         // a list, file or server failed verification: nothing installed
    BATCH_USAGE = 64,
};

// Runs check, selection of every group, download and installation; status
// lines go to `out`.
int RunBatch(const std::string& command_line, Config config, std::ostream& out);

}  // namespace updater
