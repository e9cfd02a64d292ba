// Fuzz harness: extraction of a hostile archive into a fresh folder, set up as the decrypt job
// does it (everything, overwrite always). Nothing may land outside that folder, and the output
// may not exceed what the archive's bytes can honestly expand to (entries sharing data would).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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
  // Deflate expands at most about 1032:1; the legacy methods stay well below 8192:1.
  const uint64_t written = scratch.BytesBelow(scratch.Out());
  if (written > 8192 * static_cast<uint64_t>(size) + 65536) {
    std::fprintf(stderr, "%zu archive bytes extracted to %llu bytes\n", size, static_cast<unsigned long long>(written));
    std::abort();
  }
  return 0;
}
