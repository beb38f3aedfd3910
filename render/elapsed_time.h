#pragma once

#include <cstdint>

// Whole milliseconds of wall-clock time since start-up, modulo 2^32, read as signed.
int32_t elapsedMilliseconds();
