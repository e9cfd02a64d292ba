#pragma once
// The set-up both jobs give the crypto component: AES-256-CBC, key = SHA-256 of the password,
// and the program's fixed initialisation vector.
#include <string>

#include "jobs/CryptComponent.h"

namespace kvelv {

inline constexpr const char* kContainerIV = "5170826439915062";

void ConfigureForContainer(CryptComponent& component, const std::string& password);

}  // namespace kvelv
