#include "tools/phonesim/output_queue.h"

#include <algorithm>

namespace phonesim {
namespace {
// Catching up after a late wake-up may send this many bytes at once.
constexpr int64_t kMaxBurst = 16;
}  // namespace

void OutputQueue::SetBaud(int baud) {
    byte_us_ = baud > 0 ? 10'000'000LL / baud : 0;
}

void OutputQueue::Answer(std::string bytes, int64_t now_us, int64_t delay_us) {
    if (bytes.empty())
        return;
    int64_t release = now_us + delay_us;
    if (!items_.empty())
        release = std::max(release, items_.back().release_us);
    items_.push_back({std::move(bytes), release});
}

void OutputQueue::Echo(std::string bytes, int64_t now_us) {
    if (bytes.empty())
        return;
    auto it = std::find_if(items_.begin(), items_.end(),
                           [&](const Item& item) { return item.release_us > now_us; });
    items_.insert(it, {std::move(bytes), now_us});
}

int64_t OutputQueue::NextTime(int64_t now_us) const {
    if (items_.empty())
        return -1;
    int64_t t = items_.front().release_us;
    if (byte_us_ > 0)
        t = std::max(t, next_byte_us_);
    return std::max(t, now_us);
}

std::string OutputQueue::Ready(int64_t now_us) const {
    std::string out;
    if (items_.empty())
        return out;
    size_t allowed = SIZE_MAX;
    if (byte_us_ > 0) {
        int64_t scheduled = std::max(next_byte_us_, items_.front().release_us);
        if (now_us < scheduled)
            return out;
        allowed =
            static_cast<size_t>(std::min<int64_t>((now_us - scheduled) / byte_us_ + 1, kMaxBurst));
    }
    for (const Item& item : items_) {
        if (item.release_us > now_us || out.size() >= allowed)
            break;
        out.append(item.bytes, 0, std::min(item.bytes.size(), allowed - out.size()));
    }
    return out;
}

void OutputQueue::Consume(size_t n, int64_t now_us) {
    if (byte_us_ > 0 && n > 0 && !items_.empty()) {
        int64_t scheduled = std::max(next_byte_us_, items_.front().release_us);
        // A late wake-up may catch up a little, never more than one burst.
        scheduled = std::max(scheduled, now_us - kMaxBurst * byte_us_);
        next_byte_us_ = scheduled + static_cast<int64_t>(n) * byte_us_;
    }
    while (n > 0 && !items_.empty()) {
        Item& head = items_.front();
        if (n >= head.bytes.size()) {
            n -= head.bytes.size();
            items_.pop_front();
        } else {
            head.bytes.erase(0, n);
            n = 0;
        }
    }
}

}  // namespace phonesim
