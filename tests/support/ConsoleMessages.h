#pragma once
// Batch mode's usage text and its messages for a missing input, as the tests expect them on
// standard output.
#include <string>

#include "jobs/ConsoleTexts.h"

namespace kvelv::test {

inline const std::string kUsage =
    "Usage: kvelv.exe -decrypt|-encrypt -password=<password>\r\n"
    "[-file=<file to decrypt>|-files=<;-sep list of files to encrypt>]\r\n"
    "[-to_folder=<folder to decrypt files to>|-to_file=<filename of encrypted file>]\r\n";

// "-files": the item, then the text, each line ended with CR LF.
inline std::string MissingFilesItem(const std::string& item) {
  return std::string(console_text::kWrongFilesParameter) + item + "\r\n" + console_text::kFileDoesNotExist + "\r\n";
}
// "-file": the same without the last line break.
inline std::string MissingFile(const std::string& path) {
  return std::string(console_text::kWrongFileParameter) + path + "\r\n" + console_text::kFileDoesNotExist;
}

}  // namespace kvelv::test
