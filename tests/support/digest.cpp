#include "support/digest.h"

#include <openssl/evp.h>

#include <cstdio>

namespace fixtures {

std::string Md5Of(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    std::string text;
    char hex[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof(hex), "%02x", digest[i]);
        text += hex;
    }
    return text;
}

}  // namespace fixtures
