// updater-sign: the publisher's tool. Makes a key pair, writes the signed
// manifest of a folder of update files, and checks a published folder the
// way the updater will.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace updater {

// Runs one command ("keygen", "sign", "verify"; see the usage text).
// Returns the exit status: 0 done, 1 failed or refused, 64 bad usage.
int RunSignTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace updater
