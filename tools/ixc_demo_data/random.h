#pragma once
/// The generator's source of chance: splitmix64, written out here so that a seed gives the same
/// data with every compiler and standard library (the distributions of <random> may differ).
#include <cstddef>
#include <cstdint>
#include <span>

namespace demo {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  /// A whole number in [0, n); n > 0.
  std::uint32_t below(std::uint32_t n) {
    return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32);
  }

  /// A whole number in [low, high].
  int between(int low, int high) {
    return low + static_cast<int>(below(static_cast<std::uint32_t>(high - low + 1)));
  }

  /// True `per_mille` times in a thousand.
  bool chance(unsigned per_mille) { return below(1000) < per_mille; }

  template <typename T>
  const T& pick(std::span<const T> items) {
    return items[below(static_cast<std::uint32_t>(items.size()))];
  }

 private:
  std::uint64_t state_;
};

}  // namespace demo
