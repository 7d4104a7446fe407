// The classic Microsoft C runtime generator behind srand/rand.
#pragma once

#include <cstdint>

namespace platform {

class MsRand {
  public:
    explicit MsRand(uint32_t seed = 1) : state_(seed) {}
    void Seed(uint32_t seed) { state_ = seed; }
    // 0 .. 32767
    int Next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

  private:
    uint32_t state_;
};

}  // namespace platform
