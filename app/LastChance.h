#pragma once
// The last-chance handler: what happens to an error that nothing on the way up caught.
#include <exception>
#include <functional>
#include <ostream>
#include <string>

#include "jobs/ExitCodes.h"

namespace kvelv {

// "<class>: <message>" for the exception: the program's own errors give their ClassName(),
// other standard exceptions their type name, anything else "Exception" and a fixed text.
std::string DescribeException(const std::exception_ptr& error);

// Runs `body` and returns its result. An exception escaping it is written to `err` as its
// description followed by CRLF (one write, flushed), and the result is then 1.
int RunWithLastChance(const std::function<int()>& body, std::ostream& err);

}  // namespace kvelv
