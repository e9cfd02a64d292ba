#pragma once
// A password read from a file or a pipe rather than from the command line, where other users,
// the shell's history and audit logs would see it.
#include <cstddef>
#include <string>
#include <system_error>

#include "platform/SecretBytes.h"

namespace kvelv::platform {

// The most a secret line may hold; a longer one is refused rather than cut.
inline constexpr size_t kMaxSecretLine = 65536;

// The first line of the file at `path`: a regular file, a pipe or a device, whatever can be read
// (a process substitution such as /dev/fd/63 too). Read straight into secret storage, never
// through a buffer of the C library. On failure the result is empty and `ec` says why: the
// system's error (no_such_file_or_directory, is_a_directory, permission_denied, ...), or
// value_too_large when no line ends within kMaxSecretLine bytes. A file that is empty or starts
// with a line ending gives an empty result and no error.
SecretBytes ReadSecretLine(const std::string& path, std::error_code& ec);
// The same from standard input. Reads no further than needed, where the input allows it.
SecretBytes ReadSecretLineFromStandardInput(std::error_code& ec);

// What the readers keep of the bytes they read: up to the first line feed, without a carriage
// return before it and without a UTF-8 byte-order mark at the start (an editor's). The rest is
// wiped. True when a line feed was found.
bool KeepFirstLine(SecretBytes& text);
// The readers' result from all they read: its first line (KeepFirstLine), or empty with `ec`
// value_too_large when that is longer than kMaxSecretLine; `ec` cleared otherwise.
SecretBytes FirstLineOf(SecretBytes read, std::error_code& ec);

}  // namespace kvelv::platform
