#include "platform/file_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/binio.h"
#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using skyvane::testing::TempDir;

// Collects the bits raised until `want` are all there or a generous time
// has passed (the machine may be loaded).
uint32_t WaitFor(FileWatcher& w, uint32_t want) {
    uint32_t got = 0;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while ((got & want) != want && std::chrono::steady_clock::now() < end)
        got |= w.Wait(100ms);
    return got;
}

void Write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

TEST(FileWatcher, EachWatchRaisesItsBitsForTheFilesItsFilterAccepts) {
    TempDir dir;
    std::filesystem::create_directories(dir / "books");
    FileWatcher w;
    ASSERT_TRUE(w.ok());
    auto named = [](std::string name) {
        return [name](std::string_view file, bool) { return file == name; };
    };
    ASSERT_TRUE(w.Watch(dir.path(), FileWatcher::kAll, 1, named("registry.reg")));
    ASSERT_TRUE(w.Watch(dir.path(), FileWatcher::kArrivals, 2,
                        [](std::string_view, bool directory) { return directory; }));
    ASSERT_TRUE(w.Watch(dir / "books", FileWatcher::kAll, 4));
    EXPECT_FALSE(w.Watch(dir / "missing", FileWatcher::kAll, 8));

    // A file nobody asked for raises nothing.
    Write(dir / "other.txt", "x");
    EXPECT_EQ(w.Wait(300ms), 0u);

    // Replaced by a rename, as every atomic writer does.
    ASSERT_TRUE(WriteFileAtomic(dir / "registry.reg", "[a]"));
    EXPECT_EQ(WaitFor(w, 1), 1u);
    std::filesystem::create_directories(dir / "new book");
    EXPECT_EQ(WaitFor(w, 2), 2u);
    Write(dir / "books" / "card.vcf", "BEGIN:VCARD");
    EXPECT_EQ(WaitFor(w, 4), 4u);
    std::filesystem::remove(dir / "books" / "card.vcf");
    EXPECT_EQ(WaitFor(w, 4), 4u);
    // Nothing more is pending.
    EXPECT_EQ(w.Drain(), 0u);
}

}  // namespace
}  // namespace platform
