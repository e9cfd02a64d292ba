#pragma once
// The console build's English texts, each defined here once: batch mode's messages on standard
// output (line breaks are CR LF) and the lines the jobs write to standard error in batch mode.
namespace kvelv::console_text {

// --- Batch mode, standard output ---------------------------------------------------------------
inline constexpr const char kLineBreak[] = "\r\n";
inline constexpr const char kUsage[] =
    "Usage: kvelv.exe -decrypt|-encrypt -password=<password>\r\n"
    "[-file=<file to decrypt>|-files=<;-sep list of files to encrypt>]\r\n"
    "[-to_folder=<folder to decrypt files to>|-to_file=<filename of encrypted file>]\r\n";
inline constexpr const char kIllegalParameter[] = "Illegal parameter:";
inline constexpr const char kMissingParameter[] = "Missing parameter: ";
inline constexpr const char kWrongFileParameter[] = "Wrong parameter: -file=";
inline constexpr const char kWrongFilesParameter[] = "Wrong parameter: -files=";
inline constexpr const char kFileDoesNotExist[] = "File does not exist.";
// -password_file, an option of our own: a file that cannot be read is a wrong parameter too.
inline constexpr const char kWrongPasswordFileParameter[] = "Wrong parameter: -password_file=";
inline constexpr const char kCannotReadFile[] = "File cannot be read: ";
inline constexpr const char kPasswordLineTooLong[] = "File cannot be read: its first line is longer than 65536 bytes.";
// On standard error, through the last-chance report.
inline constexpr const char kMissingValue[] = "Missing value for option ";

// --- The jobs in batch mode, standard error: the reason of a failure --------------------------
inline constexpr const char kEncryptFailed[] = "Encryption failed: ";
inline constexpr const char kDecryptFailed[] = "Decryption failed: ";
inline constexpr const char kArchiveDamaged[] = "Decryption failed: the archive in the container is damaged";
inline constexpr const char kNoComponent[] = "The crypto component cannot be created";
inline constexpr const char kEncryptCancelled[] = "Encryption cancelled: no container written";
inline constexpr const char kDecryptCancelled[] = "Decryption cancelled: nothing in the folder changed";
// Reasons for a listed file that cannot be packed; the path and the system's reason follow.
inline constexpr const char kFileVanished[] = "File does not exist: ";
inline constexpr const char kCannotOpenFile[] = "Cannot open file ";

// --- The jobs, standard error (and a message in the window): files left out on purpose -------
inline constexpr const char kLeftOutHidden[] = "Left out (a hidden file): ";
inline constexpr const char kLeftOutSystem[] = "Left out (not a regular file): ";
inline constexpr const char kLeftOutSameName[] = "Left out (a file of the same name is already packed): ";
// Names of a decrypt: an entry written under another name (the reasons in brackets, then the
// stored and the written name), superseded by a later entry, or not extracted.
inline constexpr const char kRenamed[] = "Renamed (";
inline constexpr const char kRenamedMapped[] = "a name Windows does not allow";
inline constexpr const char kRenamedShortened[] = "too long for the file system";
inline constexpr const char kRenamedNumbered[] = "another file has the name";
inline constexpr const char kSuperseded[] = "Replaced by a later entry of the same name: ";
inline constexpr const char kNotExtracted[] = "Not extracted (no usable file name): ";
inline constexpr const char kNothingChanged[] = " Nothing in the folder was changed.";
inline constexpr const char kNotGuarded[] =
    "Warning: the temporary archive is not guarded against the program being killed: ";

}  // namespace kvelv::console_text
