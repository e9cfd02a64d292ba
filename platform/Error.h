#pragma once
// Root of the program's own exception classes. Each class names itself so that the
// last-chance handler can report "<class>: <message>" as the original runtime did.
#include <stdexcept>
#include <string>

namespace kvelv {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
  // Class name as reported by the last-chance handler, e.g. "EZipException".
  virtual const char* ClassName() const noexcept { return "Exception"; }
};

}  // namespace kvelv
