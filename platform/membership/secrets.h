#pragma once
// The secrets the site hands out besides passwords (API tokens, session ids, form tokens):
// made from the system's random source, kept only as a hash, compared in constant time.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix::membership {

/// `bytes` random bytes from the system's random source as lower-case hexadecimal digits
/// (twice as many characters). Raises when no random source can be had.
std::string RandomHex(size_t bytes);

/// The kept form of a random secret: a 256-bit hash in 64 hexadecimal digits. Only for
/// secrets random enough that a fast hash cannot be turned back (never for passwords).
std::string SecretHash(std::string_view secret);

/// True when both texts are equal; the time taken depends on their lengths only, not on
/// where they first differ.
bool EqualInConstantTime(std::string_view a, std::string_view b);

}  // namespace kestrix::membership
