// Whether the hand-written SSE2 paths are compiled. They are wherever the compiler
// targets SSE2 (it defines __SSE2__ on every x86-64 build of GCC and Clang), unless the
// build defines TARNWHISK_NO_SIMD (CMake option TARNWHISK_SIMD=OFF). Every SSE2 path has
// a scalar twin that arm64 and MSVC builds take; switching the SSE2 paths off here is
// how that road gets built and tested on an x86-64 machine.
#pragma once

#if defined(__SSE2__) && !defined(TARNWHISK_NO_SIMD)
#define TARNWHISK_SSE2 1
#else
#define TARNWHISK_SSE2 0
#endif
