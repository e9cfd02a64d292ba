#pragma once
// The two container formats: the classic one (AES-256-CBC under one SHA-256 of the password,
// what the program has always written and still writes by default) and the sealed one
// (Argon2id, authenticated chunks; docs/FORMAT.md), written on request and always read.
#include <string>

namespace kvelv {

enum class ContainerFormat { Classic = 1, Sealed = 2 };

// True when the file at `path` begins with the sealed container's magic; false for a classic
// container, a shorter file or one that cannot be read.
bool IsSealedContainer(const std::string& path);

}  // namespace kvelv
