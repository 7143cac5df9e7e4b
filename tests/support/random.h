// A small deterministic generator (splitmix64) for synthetic games and textures, so that a seed
// always gives the same bytes.
#ifndef VINTREL_TESTS_SUPPORT_RANDOM_H_
#define VINTREL_TESTS_SUPPORT_RANDOM_H_

#include <cstdint>

namespace vtest {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // In [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  // In [0, n).
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

 private:
  uint64_t state_;
};

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_RANDOM_H_
