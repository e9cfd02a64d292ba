#pragma once
// The three standard streams, made safe before the program opens anything of its own.
namespace kvelv::platform {

// Makes sure standard input, output and error are open, putting the null device where the
// caller closed one (a cron job, a daemon, `2>&-`). Otherwise the first file or socket the
// program opens would take the free number, and a message meant for standard error would be
// written into it. Call it first thing in main(). False when a stream cannot be given a place
// (no null device and no folder to stand in for it).
bool OpenStandardStreams();

}  // namespace kvelv::platform
