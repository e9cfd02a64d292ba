#pragma once
// Small file-system probes shared by the command line, the jobs and the main window.
#include <string>
#include <vector>

namespace kvelv {

// Splits at every occurrence of `separator` (non-empty); empty items kept except a trailing one.
std::vector<std::string> SplitString(const std::string& text, const std::string& separator);
// A path in the temporary folder, "~" + hex + extension, naming no existing file.
std::string GetTempArchiveName(const std::string& extension);
// True when a probe file can be created, written and closed in `folder`. Never destroys a file.
bool HasWriteAccess(const std::string& folder);
// True when the existing file cannot be opened for reading and writing without sharing.
bool IsFileLocked(const std::string& path);

}  // namespace kvelv
