#include "app/ConsoleMode.h"

namespace kvelv {

// Constant-initialised, so it holds false before any start-up code runs.
bool ConsoleMode = false;

}  // namespace kvelv
