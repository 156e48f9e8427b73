// A small deterministic generator for line noise, so that a run with the
// same seed puts the same noise on the line.
#pragma once

#include <cstdint>

namespace kpsim {

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed != 0 ? seed : 0x9E3779B97F4A7C15ull) {}
  std::uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  void Seed(std::uint64_t seed) { state_ = seed != 0 ? seed : 0x9E3779B97F4A7C15ull; }

 private:
  std::uint64_t state_;
};

}  // namespace kpsim
