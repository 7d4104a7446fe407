// A few cells of the unsolicited-line grid (bench_sync_grid runs all of
// them): a line of the phone at one position of one command, with
// delete-after-sync on, then a clean run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "parlo/sms/testing/sync_grid.h"

namespace parlo::testing {
namespace {

TEST(UnsolicitedGrid, SampleCellsLoseNothingAndReportRightly) {
    std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("unsolicited_grid_" + std::to_string(::getpid()));
    SyncGrid grid(scratch);
    // Commands of a run: 1-2 AT, 3 AT+CGMI, 4 AT+CGMM, 5 AT+COPS?, 6 AT+CSCA?,
    // 7 AT+CMGS, 8 AT+CPMS="ME", 9-13 AT+CMGR, 14 AT+CPMS="SM", 15-17
    // AT+CMGR, then the deletions.
    const GridCell cells[] = {
        {9, "inside", "cmti"},        // between a slot's header and its PDU
        {3, "before", "cmt"},         // a delivery during identification
        {14, "before-echo", "ring"},  // ahead of the SIM's selection
        {7, "after", "vendor"},       // after the SMS prompt
        {5, "inside", "creg"},        // inside the operator's answer
        {17, "before", "cdsi"},       // at the SIM's last slot
        {19, "inside", "cmti"},       // during the deletions
    };
    for (const GridCell& cell : cells) {
        SCOPED_TRACE(cell.kind + " " + cell.position + " command " + std::to_string(cell.command));
        GridOutcome o = grid.Run(cell);
        EXPECT_EQ(o.lost, 0) << o.detail;
        EXPECT_EQ(o.duplicates, 0) << o.detail;
        EXPECT_FALSE(o.wrong_result) << o.detail;
        EXPECT_TRUE(o.faulty_run_ok) << o.detail;
    }
    std::filesystem::remove_all(scratch);
}

}  // namespace
}  // namespace parlo::testing
