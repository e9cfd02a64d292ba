// Fuzz harness: the settings-file parser. The input is a settings file; it is parsed, searched,
// changed and written back both in memory (IniDocument) and through a file (IniFile). A value
// of plain letters and digits set under a plain section and key must read back unchanged.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/IniDocument.h"
#include "jobs/SettingsFile.h"
#include "fuzz/FuzzSupport.h"

namespace {

bool Plain(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "settings round trip failed: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Names to look up come from the input itself: its first line split at '|'.
  const std::string_view head = text.substr(0, std::min<size_t>(text.find('\n'), 64));
  const size_t bar = head.find('|');
  const std::string section(head.substr(0, std::min(bar, head.size())));
  const std::string key(bar == std::string_view::npos ? std::string_view("Key") : head.substr(bar + 1));

  kvelv::IniDocument doc = kvelv::IniDocument::Parse(text);
  (void)doc.Find(section, key);
  (void)doc.Find("Settings", "Folder");
  doc.Set(section, key, "v1");
  doc.Set("Settings", "Folder", text.substr(0, 40));
  const std::string written = doc.Serialize();
  kvelv::IniDocument again = kvelv::IniDocument::Parse(written);
  if (Plain(section) && Plain(key)) {
    again.Set(section, key, "Value42");
    Require(kvelv::IniDocument::Parse(again.Serialize()).Find(section, key) == std::optional<std::string>("Value42"),
            "IniDocument");
  }

  kvelv::fuzz::Scratch scratch;
  kvelv::IniFile file(scratch.WriteFile("s.ini", data, size));
  (void)file.ReadString(section, key, "default");
  (void)file.ReadInteger(section, key, 7);
  (void)file.ReadInteger("Settings", "Folder", 7);
  try {
    file.WriteInteger("Settings", "Count", -12345);
    Require(file.ReadInteger("Settings", "Count", 0) == -12345, "IniFile integer");
    if (Plain(section) && Plain(key)) {
      file.WriteString(section, key, "Value42");
      Require(file.ReadString(section, key, "") == "Value42", "IniFile string");
    }
  } catch (const kvelv::EIniFileException&) {
  }
  scratch.CheckNoEscape("s.ini");
  return 0;
}
