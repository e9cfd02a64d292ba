// Fuzz harness: an archive as the decrypt job first sees it. Loads the directory, tests every
// entry and lists the names; errors of the archive library are expected, nothing else is.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvelv::fuzz::Scratch scratch;
  const std::string archive = scratch.WriteFile("a.zip", data, size);
  {
    kvelv::ZipReader reader;
    reader.SetZipName(archive);
    reader.SetDestDir(scratch.Out());
    reader.SetDoAll(true);
    try {
      (void)reader.VerifyArchive();
      reader.ReadDirectory();
      for (int i = 0; i < reader.EntryCount(); ++i) {
        (void)reader.EntryFileName(i);
        (void)reader.EntryDirectory(i);
      }
    } catch (const kvelv::EZipException&) {
    }
  }
  scratch.CheckNoEscape("a.zip");
  return 0;
}
