#include "core/random.h"

namespace {

uint32_t g_seed = 1;

}  // namespace

void RandomSeed(uint32_t seed) { g_seed = seed; }

uint32_t RandomCurrentSeed() { return g_seed; }

uint32_t RandomDraw() {
  g_seed = g_seed * 214013u + 2531011u;
  return (g_seed >> 16) & 0x7FFFu;
}

uint32_t RandomBelow(uint32_t n) {
  if (n < 2) return 0;
  uint32_t value = RandomDraw();
  if (n > kRandomDrawMax + 1) value = (value << 15) | RandomDraw();
  if (n > (1u << 30)) value = (value << 15) | RandomDraw();
  return value % n;
}
