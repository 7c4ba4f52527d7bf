#include "core/scale.h"

[[gnu::noinline]] uint32_t ScaleDown(uint32_t a, uint32_t b, uint32_t bias, uint32_t c) {
  return (uint32_t)(((uint64_t)a * b + bias) / c);
}
