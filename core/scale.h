// Scaling a count by a ratio, as progress shares and picture sizes need.
#pragma once
#include <stdint.h>

// (a * b + bias) / c, rounded down, through a 64-bit product: exact for every
// a, b and bias; the result is truncated to 32 bits when it does not fit.
// c must not be 0.
//
// Unsigned and out of line on purpose: the runtime then links one 64-bit
// division routine. Written inline where the operands are known to be small,
// the compiler also names the signed routine, which the link carries along
// unused.
uint32_t ScaleDown(uint32_t a, uint32_t b, uint32_t bias, uint32_t c);
