#pragma once
// A process that holds passwords and keys must not leave a copy of its memory on disk when it
// crashes or is made to dump (SIGQUIT, SIGABRT).
namespace kvelv::platform {

// No core file from now on, whatever the shell's limit: on POSIX the core size limit goes to 0
// (for good: the hard limit too) and the process is marked not dumpable, which also keeps other
// processes of the same user from reading its memory. Call first thing in main(). On Windows
// a crash already ends the process at once without a dump (platform/CrashExit.h); nothing more
// is done there.
void DisableCoreDumps();

}  // namespace kvelv::platform
