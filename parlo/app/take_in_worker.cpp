#include "parlo/app/take_in_worker.h"

namespace parlo {

CTakeInWorker::CTakeInWorker(std::function<void()> take_in)
    : take_in_(std::move(take_in)), thread_([this] { Loop(); }) {}

CTakeInWorker::~CTakeInWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void CTakeInWorker::Request() {
    {
        std::lock_guard lock(mutex_);
        requested_ = true;
    }
    wake_.notify_one();
}

unsigned CTakeInWorker::Runs() const {
    std::lock_guard lock(mutex_);
    return runs_;
}

void CTakeInWorker::Loop() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return requested_ || stop_; });
        if (stop_)
            return;
        requested_ = false;
        lock.unlock();
        take_in_();
        lock.lock();
        ++runs_;
    }
}

}  // namespace parlo
