#pragma once
// The console program's command line and standard streams, as UTF-8 text.
#include <ostream>
#include <string>
#include <vector>

namespace kvelv::platform {

// The program's arguments without its own name. On Windows they are taken from the UTF-16
// command line, so any character survives; elsewhere they are `argv` as given.
std::vector<std::string> CommandLineArguments(int argc, char** argv);
// Overwrites with zero bytes, in the process's own argument vector, the value of every argument
// whose name (the part before "=", letter case ignored) is `option`, so that other users cannot
// read it through the process list. Call it once the arguments were copied. On Windows the
// command line of a running process cannot be changed this way; nothing happens there.
void WipeOptionValues(int argc, char** argv, const std::string& option);

// Standard output and standard error for UTF-8 text. A Windows console shows the text as
// Unicode whatever its code page; redirected output receives the UTF-8 bytes unchanged.
std::ostream& ConsoleOut();
std::ostream& ConsoleErr();
// Whether standard error is a terminal (a console on Windows) rather than a file or a pipe.
bool StandardErrorIsTerminal();

}  // namespace kvelv::platform
