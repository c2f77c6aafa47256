#include "platform/CommonCrypto/CommonDigest.h"

#include <openssl/evp.h>

unsigned char* CC_MD5(const void* data, CC_LONG len, unsigned char* md) {
    unsigned int size = 0;
    // EVP_Digest rather than MD5(), which OpenSSL 3 deprecates. It fails only when out of memory,
    // and the digest is then all zeros rather than stale bytes.
    if (EVP_Digest(data, len, md, &size, EVP_md5(), nullptr) != 1)
        for (int i = 0; i < CC_MD5_DIGEST_LENGTH; ++i) md[i] = 0;
    return md;
}
