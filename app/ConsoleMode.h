#pragma once
// Which way the program runs, fixed once at start-up: true in the console build (batch mode),
// false in the interactive build. Nothing changes it afterwards.

namespace kvelv {

extern bool ConsoleMode;

}  // namespace kvelv
