// Fuzz harness: extraction of a hostile archive into a fresh folder, set up as the decrypt job
// does it (everything, overwrite always). Nothing may land outside that folder.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvelv::fuzz::Scratch scratch;
  const std::string archive = scratch.WriteFile("a.zip", data, size);
  {
    kvelv::ZipWriter reader;
    reader.SetZipName(archive);
    reader.SetDestDir(scratch.Out());
    reader.SetDoAll(true);
    reader.SetOverwriteMode(kvelv::UZOverwriteMode::Always);
    try {
      (void)reader.ExtractAll();
    } catch (const kvelv::EZipException&) {
    }
  }
  scratch.CheckNoEscape("a.zip");
  return 0;
}
