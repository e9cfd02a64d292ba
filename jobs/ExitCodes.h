#pragma once
// The process exit codes of the console build, all in one place. The jobs end batch mode with
// 0, 2, 3 and 6; batch mode itself ends with the others before any job runs.
namespace kvelv::exit_code {

inline constexpr int kDone = 0;              // the container is written, or the files extracted
inline constexpr int kUnhandledError = 1;    // an error nothing caught (the last-chance report)
inline constexpr int kMissingParameter = 1;  // mode, password or target missing
inline constexpr int kFailed = 2;            // encryption or decryption failed, or a damaged archive
inline constexpr int kNoComponent = 3;       // the crypto component cannot be created
inline constexpr int kIllegalParameter = 4;  // an option name that is not one of batch mode's
inline constexpr int kFileMissing = 5;       // an input file does not exist
// A decrypt's target file is held open (locked) by another program; nothing in the folder changed.
inline constexpr int kTargetLocked = 6;

}  // namespace kvelv::exit_code
