// The library's random generator: a 32-bit linear congruential generator
// (seed = seed * 214013 + 2531011) whose draws are bits 16..30 of the new
// seed, so every draw lies in 0..32767.
//
// The seed is the one process-wide state of this module; the program runs on
// one thread, so no locking is needed. Until RandomSeed is called the seed is 1,
// which makes a run reproducible.
#pragma once
#include <stdint.h>

constexpr uint32_t kRandomDrawMax = 32767;

void RandomSeed(uint32_t seed);
uint32_t RandomCurrentSeed();

// One draw, 0..32767.
uint32_t RandomDraw();

// A number below n: one draw for n <= 32768, two draws combined (30 bits)
// for n <= 2^30, three (45 bits, kept to 32) above, then taken modulo n.
// n < 2 gives 0 without drawing.
uint32_t RandomBelow(uint32_t n);
