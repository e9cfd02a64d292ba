#pragma once
// The Norwegian texts the jobs show in interactive mode. Their line breaks are a line feed
// followed by a carriage return, as the program has always written them. (The console's English
// texts are in jobs/ConsoleTexts.h.)
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
// The summary after a decrypt in which files got other names than in the archive, or were left
// out: the heading, then one line per file.
inline constexpr const char* kNamesHeading = "Noen filer fikk et annet navn enn i arkivet, eller ble ikke pakket ut:";
inline constexpr const char* kNameWrittenAs = " er lagret som ";
inline constexpr const char* kNameSuperseded = " er erstattet av en senere fil med samme navn";
inline constexpr const char* kNameNotExtracted = " er ikke pakket ut: navnet kan ikke brukes";
inline constexpr const char* kNamesMore = "... og ";  // the number of lines left out, then " til"
inline constexpr const char* kNamesMoreEnd = " til";
// A job the user stopped: nothing was written, and what was there before is as it was.
inline constexpr const char* kEncryptCancelled = "Krypteringen ble avbrutt. Ingen fil er skrevet.";
inline constexpr const char* kDecryptCancelled = "Dekrypteringen ble avbrutt. Ingen filer er endret.";

}  // namespace kvelv::texts
