#pragma once
// Message digests of the system library: MD5 (RFC 1321), on OpenSSL's libcrypto.
//
// Threads: any thread; no state is kept between calls.

#include <cstdint>

using CC_LONG = uint32_t;

inline constexpr int CC_MD5_DIGEST_LENGTH = 16;

// Writes the MD5 digest of the `len` bytes at `data` into the 16 bytes at `md` and returns `md`.
unsigned char* CC_MD5(const void* data, CC_LONG len, unsigned char* md);
