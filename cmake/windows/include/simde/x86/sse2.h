/* libobs 29's headers include SIMDe's SSE2 emulation for every compiler but
 * MSVC; with mingw-w64 it clashes with GCC's own intrinsics. On x86-64 the
 * real intrinsics are there, under the same names (libobs 30 and later
 * include them directly). This folder comes before the system's on the
 * Windows build's include path. */
#pragma once
#include <emmintrin.h>
