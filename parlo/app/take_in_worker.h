// A thread that takes in other programs' changes of the store for a program
// with a user interface, so that the interface thread never waits for the
// store's lock or the file lock while a worker or another program writes or
// compacts, and never reads a store file itself.
//
// Requests made while a taking in runs are merged into one more run. What is
// taken in reaches the view through the document's listener, from this
// thread: the view hands copies to its own thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace parlo {

class CTakeInWorker {
  public:
    explicit CTakeInWorker(std::function<void()> take_in);
    // Stops the thread after the run in progress, if any.
    ~CTakeInWorker();
    CTakeInWorker(const CTakeInWorker&) = delete;
    CTakeInWorker& operator=(const CTakeInWorker&) = delete;

    // Asks for one run; never waits.
    void Request();
    // Runs finished so far (for tests).
    unsigned Runs() const;

  private:
    void Loop();

    std::function<void()> take_in_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool requested_ = false;
    bool stop_ = false;
    unsigned runs_ = 0;
    std::thread thread_;
};

}  // namespace parlo
