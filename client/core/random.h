#pragma once
// The program's pseudo-random generator (624-word twisted generator, index starting at 1).
#include <cstdint>

void random_seed(uint32_t seed);
uint32_t random_next();
// Back to the start state (unseeded, index 1) for tests.
void random_reset();
