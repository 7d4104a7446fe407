#include "updater/batch.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/text.h"

namespace updater {

namespace {

// Runs the download on a worker thread and ticks the progress every 500 ms,
// as the progress dialog does.
int Download(Engine& engine, std::ostream& out) {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    int result = 2;
    std::thread worker([&] {
        int r = engine.RunDownload();
        std::lock_guard<std::mutex> lock(mutex);
        result = r;
        done = true;
        cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    std::string last;
    while (!cv.wait_for(lock, std::chrono::milliseconds(500), [&] { return done; })) {
        int percent = engine.ProgressTick();
        // A line only when the progress moved.
        std::string line =
            "Download: " + engine.progress_label() + " " + std::to_string(percent) + "%";
        if (line != last)
            out << line << "\n";
        last = line;
    }
    lock.unlock();
    worker.join();
    return result;
}

int Fail(Engine& engine, std::ostream& out) {
    out << platform::ToUtf8(engine.error_text()) << "\n";
    return engine.refused() ? BATCH_REFUSED : BATCH_ERROR;
}

// After an installation: says when the list was taken without verification.
void SayUnverified(const Engine& engine, std::ostream& out) {
    if (engine.list_unverified())
        out << platform::ToUtf8(Engine::Text(65046)) << "\n";
}

}  // namespace

int RunBatch(const std::string& command_line, Config config, std::ostream& out) {
    config.batch = true;
    config.pause_ms = 0;
    // A command line without an application or its directory changes
    // nothing, not even the log.
    if (!CommandLineUsable(command_line, config)) {
        out << "usage: updater --batch -app:NAME -path:DIRECTORY\n";
        return BATCH_USAGE;
    }
    Engine engine(config);
    engine.on_status = [&out](const std::u16string& text) {
        out << platform::ToUtf8(text) << "\n";
    };
    if (engine.StartUp(command_line) == StartResult::kQuit) {
        out << "self.tmp is empty\n";
        return BATCH_ERROR;
    }
    if (engine.app_name().empty()) {
        out << "usage: updater --batch -app:NAME -path:DIRECTORY\n";
        return BATCH_USAGE;
    }
    out << "Product to update: " << engine.app_name() << "\n";
    if (engine.restart_pending())
        out << platform::ToUtf8(Engine::Text(65039)) << "\n";
    engine.RunCheck();
    switch (engine.CheckOutcome()) {
        case Outcome::kNone:
        case Outcome::kCancelled:
        case Outcome::kError:
            return Fail(engine, out);
        case Outcome::kAppRunning:
            out << "Application is still running\n";
            return BATCH_APP_RUNNING;
        case Outcome::kNoUpdates:
            out << "No available updates\n";
            return BATCH_NO_UPDATES;
        case Outcome::kSelfUpdate:
            engine.BeginSelfUpdate();
            if (Download(engine, out) != 1) {
                engine.AbandonDownload();
                return Fail(engine, out);
            }
            engine.Install();
            if (engine.install_error())
                return Fail(engine, out);
            if (!engine.HandOver()) {
                out << "Can not start SelfUpdate\n";
                return BATCH_ERROR;
            }
            out << "The updater's new files were handed to SelfUpdate\n";
            SayUnverified(engine, out);
            return BATCH_HANDED_OVER;
        case Outcome::kFiles:
            break;
    }
    for (size_t g = 0; g < engine.groups().size(); ++g)
        engine.SetGroupSelected(g, true);
    engine.PrepareDownload();
    if (Download(engine, out) != 1) {
        engine.AbandonDownload();
        return Fail(engine, out);
    }
    engine.Install();
    engine.log().Write("Switch to Done");
    if (engine.install_error())
        return Fail(engine, out);
    if (engine.install_mode() == InstallMode::kReset) {
        out << platform::ToUtf8(Engine::Text(65019)) << "\n";
        SayUnverified(engine, out);
        return BATCH_RESTART_NEEDED;
    }
    out << platform::ToUtf8(Engine::Text(65016)) << "\n";
    SayUnverified(engine, out);
    return BATCH_UPDATED;
}

}  // namespace updater
