#pragma once
// Batch mode's messages for a missing input, as the tests expect them on standard output.
#include <string>

#include "jobs/ConsoleTexts.h"

namespace kvelv::test {

// "-files": the item, then the text, each line ended with CR LF.
inline std::string MissingFilesItem(const std::string& item) {
  return std::string(console_text::kWrongFilesParameter) + item + "\r\n" + console_text::kFileDoesNotExist + "\r\n";
}
// "-file": the same without the last line break.
inline std::string MissingFile(const std::string& path) {
  return std::string(console_text::kWrongFileParameter) + path + "\r\n" + console_text::kFileDoesNotExist;
}

}  // namespace kvelv::test
