// The unsolicited-line grid: synchronisation runs with delete-after-sync on,
// each with one unsolicited line of the phone at one position of one command,
// followed by a clean run. After both, the phone and the store must hold
// every message once, and the faulty run's result must be right.
//
// Used by the engine's tests (a few cells) and by bench_sync_grid (all).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace parlo::testing {

// The unsolicited lines of the grid: "cmti" (a new message stored on the
// SIM and announced), "cmt" (a message delivered on the line), and plain
// lines "ring", "creg", "vendor" (a "^"-prefixed line) and "cdsi".
const std::vector<std::string>& GridKinds();
// "before-echo", "before", "inside", "after".
const std::vector<std::string>& GridPositions();
// The stray result lines: an extra final result code that comes before the
// answer of one command: "ok", "error", "cms500" ("+CMS ERROR: 500").
const std::vector<std::string>& StrayKinds();

struct GridCell {
    int command = 0;       // the phone's command line, counted from 1
    std::string position;  // unsolicited lines only
    std::string kind;      // a kind of GridKinds or of StrayKinds
    bool echo = true;
    bool delete_after = true;
};

struct GridOutcome {
    int lost = 0;                // messages held neither by the phone nor by the store
    int duplicates = 0;          // extra copies in the store, extra sends
    bool wrong_result = false;   // success with something skipped, or failure for nothing
    bool faulty_run_ok = false;  // the faulty run listed no error
    std::string detail;          // what went wrong, for the report
};

struct GridCounts {
    int runs = 0;
    int lost = 0;
    int duplicates = 0;
    int wrong = 0;
    int false_successes = 0;   // of the wrong results: "finished" with something skipped or lost
    int cells_with_fault = 0;  // cells with any loss, duplicate or wrong result
    void Add(const GridOutcome& o);
};

class SyncGrid {
  public:
    // Runs in subdirectories of `scratch`; SKYVANE_HOME and SKYVANE_ROOT are
    // set to them while a cell runs.
    explicit SyncGrid(std::filesystem::path scratch);

    // The number of command lines a clean run sends (0 on failure).
    int CommandsOfCleanRun(bool echo = true, bool delete_after = true);
    GridOutcome Run(const GridCell& cell);

  private:
    std::filesystem::path scratch_;
    int serial_ = 0;
};

}  // namespace parlo::testing
