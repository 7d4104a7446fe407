// The Today item of the suite: a strip with the suite's banner that starts
// one of six programs depending on where along it the user taps. The host
// reaches it through the two entries of morrow/today.h; this header adds what
// the item's own tests need.
#pragma once

#include <cstdint>

#include "morrow/today.h"

namespace platform {
class Prompt;
}

namespace morrow {

inline constexpr uint32_t kItemHeight = 36;
inline constexpr int kBannerWidth = 240;
inline constexpr const char* kBannerFile = "connect.tdy";
inline constexpr const char* kClassName = "Morrow";
inline constexpr const char* kWindowTitle = "MorrowScreen";
inline constexpr unsigned kIdAppName = 57355;
inline constexpr unsigned kIdNoUserProgram = 57356;

// The item's window procedure.
intptr_t WindowProc(TodayWindow window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Message boxes go here instead of the desktop (nullptr restores).
void SetPromptForTesting(platform::Prompt* prompt);

}  // namespace morrow

extern "C" {
TodayWindow InitializeCustomItem(TODAYLISTITEM* item, TodayWindow parent);
int CustomItemOptionsDlgProc(TodayWindow dialog, uint32_t message, uintptr_t wparam,
                             intptr_t lparam);
}
