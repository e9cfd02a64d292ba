// POSIX terminals take UTF-8 bytes as they are.
#include "platform/Console.h"

#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

namespace kvelv::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  if (argc <= 1 || argv == nullptr) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

void WipeOptionValues(int argc, char** argv, const std::string& option) {
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    char* arg = argv[i];
    char* equals = std::strchr(arg, '=');
    if (equals == nullptr || static_cast<size_t>(equals - arg) != option.size()) continue;
    if (strncasecmp(arg, option.c_str(), option.size()) != 0) continue;
    // volatile: the stores must happen although nothing reads the bytes afterwards.
    for (volatile char* p = equals + 1; *p != '\0'; ++p) *p = '\0';
  }
}

std::ostream& ConsoleOut() { return std::cout; }
std::ostream& ConsoleErr() { return std::cerr; }

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace kvelv::platform
