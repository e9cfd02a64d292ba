#pragma once
// The Argon2id form of the interactive build's login hash, beside the MD5 form and the "qj"
// switch: `$argon2id$v=19$m=<KiB>,t=<passes>,p=<lanes>$<salt>$<hash>` (Base64 without padding),
// over the password's UTF-8 bytes.
#include <string>
#include <string_view>

namespace kvelv {

// What the program writes: quick enough for a login, still costly to guess at.
inline constexpr unsigned kLoginHashPasses = 3;
inline constexpr unsigned kLoginHashMemoryKiB = 64 * 1024;

// True when the stored value is meant as an Argon2id hash (it starts with "$argon2id$").
bool IsArgon2idLoginHash(std::string_view stored);
// Whether `password` matches the stored Argon2id hash, compared in constant time. False also for
// a malformed value and for parameters beyond the container format's limits (1 GiB, 10
// passes, 16 lanes), which are refused before anything is allocated.
bool CheckArgon2idLoginHash(const std::string& stored, std::string_view password);
// A new hash of `password` with a random salt and one lane; "" when the library fails.
std::string MakeArgon2idLoginHash(std::string_view password);

}  // namespace kvelv
