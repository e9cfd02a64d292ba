#pragma once
// The set-up both jobs give the crypto component: AES-256-CBC, key = SHA-256 of the password,
// and the program's fixed initialisation vector.
#include "jobs/CryptComponent.h"
#include "platform/SecretBytes.h"

namespace kvelv {

inline constexpr const char* kContainerIV = "5170826439915062";

// `password` is UTF-8 text.
void ConfigureForContainer(CryptComponent& component, const platform::SecretBytes& password);

}  // namespace kvelv
