#include "app/LastChance.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "platform/Error.h"

namespace kvelv {

namespace {

std::string TypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}

}  // namespace

std::string DescribeException(const std::exception_ptr& error) {
  if (!error) return "Exception: Unknown error";
  try {
    std::rethrow_exception(error);
  } catch (const Error& e) {
    return std::string(e.ClassName()) + ": " + e.what();
  } catch (const std::exception& e) {
    return TypeName(typeid(e)) + ": " + e.what();
  } catch (...) {
    return "Exception: Unknown error";
  }
}

int RunWithLastChance(const std::function<int()>& body, std::ostream& err) {
  try {
    return body();
  } catch (...) {
    std::string text = DescribeException(std::current_exception()) + "\r\n";
    err.write(text.data(), static_cast<std::streamsize>(text.size()));
    err.flush();
    return exit_code::kUnhandledError;
  }
}

}  // namespace kvelv
