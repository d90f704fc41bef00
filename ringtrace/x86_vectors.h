// The x86 vector intrinsics, for the files that hold AVX-512 paths under target attributes.
#pragma once

#if defined(__x86_64__)
// g++ 12 reports the placeholder operands its own intrinsic headers leave undefined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#endif
