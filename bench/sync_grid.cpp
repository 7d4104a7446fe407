// The fault grids in full, one faulty run and one clean run per cell:
// - unsolicited lines (the default family): for every command line of a
//   synchronisation, every position and every kind of unsolicited line, with
//   delete-after-sync on;
// - stray result lines (--family stray): an extra "OK", "ERROR" or
//   "+CMS ERROR: 500" before the answer of every command line, with echo on
//   and off and delete-after-sync on and off.
// Reports the runs, the messages lost, the duplicates and the wrong results:
// false successes (a run that said "finished" while it skipped or lost
// something) and failures for nothing.
//
//   bench_sync_grid [--family unsolicited|stray] [--kinds K,...]
//                   [--positions before,...] [--first N] [--last N]
//                   [--verbose] [--keep]
#include "parlo/sms/testing/sync_grid.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.push_back(item);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    using parlo::testing::GridCell;
    using parlo::testing::GridCounts;
    std::vector<std::string> kinds;
    std::string family = "unsolicited";
    std::vector<std::string> positions = parlo::testing::GridPositions();
    int first = 1, last = 0;
    bool verbose = false;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--family" && i + 1 < argc) {
            family = argv[++i];
        } else if (a == "--kinds" && i + 1 < argc) {
            kinds = Split(argv[++i]);
        } else if (a == "--positions" && i + 1 < argc) {
            positions = Split(argv[++i]);
        } else if (a == "--first" && i + 1 < argc) {
            first = std::atoi(argv[++i]);
        } else if (a == "--last" && i + 1 < argc) {
            last = std::atoi(argv[++i]);
        } else if (a == "--verbose") {
            verbose = true;
        } else if (a == "--keep") {
            keep = true;  // the scratch directories stay for a look
        } else {
            std::fprintf(stderr,
                         "usage: bench_sync_grid [--family unsolicited|stray] [--kinds K,...] "
                         "[--positions P,...] "
                         "[--first N] [--last N] [--verbose] [--keep]\n");
            return 2;
        }
    }
    const bool stray = family == "stray";
    if (kinds.empty())
        kinds = stray ? parlo::testing::StrayKinds() : parlo::testing::GridKinds();
    if (stray)
        positions = {"before"};
    std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("sync_grid_" + std::to_string(::getpid()));
    parlo::testing::SyncGrid grid(scratch);
    int commands = grid.CommandsOfCleanRun();
    if (commands == 0) {
        std::fprintf(stderr, "bench_sync_grid: the clean run failed\n");
        return 1;
    }
    std::printf("A clean run sends %d command lines; cells: commands %d to %d\n", commands, first,
                last > 0 ? std::min(last, commands) : commands);

    auto started = std::chrono::steady_clock::now();
    GridCounts total;
    std::map<std::string, GridCounts> by_kind, by_position;
    // The stray family runs with echo on and off and delete-after-sync on
    // and off; a clean run's length differs between them.
    std::vector<std::pair<bool, bool>> settings = {{true, true}};
    if (stray)
        settings = {{true, true}, {false, true}, {true, false}, {false, false}};
    for (const auto& [echo, delete_after] : settings) {
        int cmds = stray ? grid.CommandsOfCleanRun(echo, delete_after) : commands;
        int upto = last > 0 ? std::min(last, cmds) : cmds;
        std::string variant =
            stray ? std::string(echo ? "echo" : "no-echo") + (delete_after ? "/delete" : "/keep")
                  : "";
        for (const std::string& kind : kinds) {
            for (const std::string& position : positions) {
                for (int n = first; n <= upto; ++n) {
                    // A line after the last answer reaches nobody: the port is closed.
                    if (position == "after" && n == cmds)
                        continue;
                    GridCell cell{n, position, kind, echo, delete_after};
                    parlo::testing::GridOutcome o = grid.Run(cell);
                    total.Add(o);
                    by_kind[kind].Add(o);
                    by_position[stray ? variant : position].Add(o);
                    if (verbose || o.lost || o.duplicates || o.wrong_result) {
                        std::printf("%-7s %-13s command %2d: lost %d, duplicates %d, %s %s\n",
                                    kind.c_str(), (stray ? variant : position).c_str(), n, o.lost,
                                    o.duplicates, o.wrong_result ? "WRONG RESULT" : "result right",
                                    o.detail.c_str());
                        std::fflush(stdout);
                    }
                }
            }
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    auto row = [](const std::string& name, const GridCounts& c) {
        std::printf(
            "%-14s runs %4d  lost %4d  duplicates %4d  wrong results %4d (false successes %d)  "
            "cells hit %4d\n",
            name.c_str(), c.runs, c.lost, c.duplicates, c.wrong, c.false_successes,
            c.cells_with_fault);
    };
    std::printf("\n");
    for (const auto& [k, c] : by_kind)
        row(k, c);
    for (const auto& [p, c] : by_position)
        row(p, c);
    row("total", total);
    std::printf("%.1f s\n", seconds);
    if (keep)
        std::printf("scratch: %s\n", scratch.c_str());
    else
        std::filesystem::remove_all(scratch);
    return 0;
}
