#pragma once
// What a crash (a fault no code can catch, on any thread) ends the process with.
namespace kvelv::platform {

// From now on a crash on any thread writes one line describing it to standard error (CR LF at
// the end) and ends the whole process at once with `exitCode`, so a caller never mistakes it for
// success. On POSIX a crash already ends the process by its signal, which no caller reads as
// success; nothing is installed there.
void EndProcessOnCrash(int exitCode);

}  // namespace kvelv::platform
