#pragma once
// The console program's command line and standard streams, as UTF-8 text.
#include <ostream>
#include <string>
#include <vector>

namespace kvelv::platform {

// The program's arguments without its own name. On Windows they are taken from the UTF-16
// command line, so any character survives; elsewhere they are `argv` as given.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Standard output and standard error for UTF-8 text. A Windows console shows the text as
// Unicode whatever its code page; redirected output receives the UTF-8 bytes unchanged.
std::ostream& ConsoleOut();
std::ostream& ConsoleErr();

}  // namespace kvelv::platform
