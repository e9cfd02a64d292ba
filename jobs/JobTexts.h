#pragma once
// The texts of the jobs: the Norwegian ones they show in interactive mode, whose line breaks are a
// line feed followed by a carriage return as the program has always written them, and the English
// lines batch mode writes to standard error.
namespace kvelv::texts {

inline constexpr const char* kComponentNotRegistered =
    "Krypteringskomponent ikke registrert.\n\r"
    "Prøv og installer Orv Kvelv på nytt som administrator.\n\r"
    "Ta kontakt med ORV om det ikke hjelper.";
inline constexpr const char* kEncryptDone = "Filen er ferdig kryptert: ";
inline constexpr const char* kEncryptFailed = "Kryptering feilet: ";
inline constexpr const char* kDecryptFailed = "Feil under dekryptering. Kontakt ORV\n\rFeilmelding: ";
inline constexpr const char* kArchiveDamaged =
    "Filen er skadet, prøv og last ned filen på nytt\n\rOm problemet vedvarer, så kontakt Orv.";
inline constexpr const char* kFileLocked = "Lukk programmet som har denne filen åpen før du klikker Ok: \n\r";
inline constexpr const char* kFileLockedCaption = "Filen er låst av ett annet program";
inline constexpr const char* kStillLocked = "Filen fremdeles låst av ett annet program. Avbryter!";
inline constexpr const char* kOverwrite = "Overskrive gamle filer?";
inline constexpr const char* kOverwriteCaption = "Filen(e) finnes fra før";
inline constexpr const char* kDecryptDone = "Filen er ferdig dekryptert";

// Batch mode's lines on standard error: the reason of a failure, and files left out on purpose.
inline constexpr const char* kConsoleEncryptFailed = "Encryption failed: ";
inline constexpr const char* kConsoleDecryptFailed = "Decryption failed: ";
inline constexpr const char* kConsoleArchiveDamaged = "Decryption failed: the archive in the container is damaged";
inline constexpr const char* kConsoleNoComponent = "The crypto component cannot be created";
inline constexpr const char* kLeftOutHidden = "Left out (a hidden file): ";
inline constexpr const char* kLeftOutSystem = "Left out (not a regular file): ";
inline constexpr const char* kLeftOutSameName = "Left out (a file of the same name is already packed): ";
inline constexpr const char* kNotGuarded =
    "Warning: the temporary archive is not guarded against the program being killed: ";
// Reasons for a listed file that cannot be packed; the path and the system's reason follow.
inline constexpr const char* kFileVanished = "File does not exist: ";
inline constexpr const char* kCannotOpenFile = "Cannot open file ";

}  // namespace kvelv::texts
