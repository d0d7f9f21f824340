#include "platform/membership/secrets.h"

#include <vector>

#include <sodium.h>

#include "platform/base/error.h"

namespace kestrix::membership {

std::string RandomHex(size_t bytes) {
    if (sodium_init() < 0) throw Error(errnum::E_FAIL, "Ulmara.Secrets", "No random source.");
    std::vector<unsigned char> secret(bytes);
    randombytes_buf(secret.data(), secret.size());
    std::string hex(2 * bytes + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), secret.data(), secret.size());
    hex.pop_back();
    sodium_memzero(secret.data(), secret.size());
    return hex;
}

std::string SecretHash(std::string_view secret) {
    unsigned char hash[32];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(secret.data()), secret.size(),
                       nullptr, 0);
    char hex[2 * sizeof hash + 1];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    return hex;
}

bool EqualInConstantTime(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace kestrix::membership
