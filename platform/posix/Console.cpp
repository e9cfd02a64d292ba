// POSIX terminals take UTF-8 bytes as they are.
#include "platform/Console.h"

#include <iostream>

namespace kvelv::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  if (argc <= 1 || argv == nullptr) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::ostream& ConsoleOut() { return std::cout; }
std::ostream& ConsoleErr() { return std::cerr; }

}  // namespace kvelv::platform
