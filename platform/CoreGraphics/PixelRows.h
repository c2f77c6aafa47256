#pragma once
// Helpers for loops over rows of 32-bit pixels.
//
// Such loops go in blocks of 16 pixels, an inner loop of fixed count that the compiler turns
// wholly into vector code, and then pixel by pixel for the rest. The byte shuffles they do need
// instructions that baseline x86-64 lacks, so a function marked PIXEL_ROW_CLONES is also built for
// AVX2, the build chosen when the program loads. Not under ThreadSanitizer: the loader runs the
// choosing function before the sanitizer's runtime is up, and its instrumented code crashes there.

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define PIXEL_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PIXEL_ROW_CLONES
#endif

inline constexpr size_t kPixelBlock = 16;

// A pixel's four bytes as a native word, at any alignment.
inline uint32_t loadPixelWord(const uint8_t* bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

inline void storePixelWord(uint8_t* bytes, uint32_t word) {
    std::memcpy(bytes, &word, 4);
}
