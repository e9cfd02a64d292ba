// Fuzz harness: extraction of a hostile archive into a fresh folder, done as the decrypt job does
// it: one pass tests every entry and stages the files, and only a sound archive is committed.
// Nothing may land outside that folder; an extraction that is not committed leaves the folder
// untouched (it was not there before, so it must not be there after); and the output may not
// exceed what the archive's bytes can honestly expand to (entries sharing data would).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "fuzz/FuzzSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvelv::fuzz::Scratch scratch;
  const std::string archive = scratch.WriteFile("a.zip", data, size);
  bool committed = false;
  {
    kvelv::ZipReader reader;
    reader.SetZipName(archive);
    reader.SetDestDir(scratch.Out());
    reader.SetDoAll(true);
    reader.SetOverwriteMode(kvelv::UZOverwriteMode::Always);
    try {
      std::optional<kvelv::StagedExtraction> staged;
      staged.emplace(reader.StageAll());
      if (staged->Failed() == 0 && reader.EntryCountRead() > 0) {
        (void)staged->Commit();
        committed = true;
      }
    } catch (const kvelv::EZipException&) {
    }
  }
  scratch.CheckNoEscape("a.zip");
  if (!committed && std::filesystem::exists(scratch.Out())) {
    std::fprintf(stderr, "an extraction that was not committed left the target folder behind\n");
    std::abort();
  }
  // Deflate expands at most about 1032:1; the legacy methods stay well below 8192:1.
  const uint64_t written = scratch.BytesBelow(scratch.Out());
  if (written > 8192 * static_cast<uint64_t>(size) + 65536) {
    std::fprintf(stderr, "%zu archive bytes extracted to %llu bytes\n", size, static_cast<unsigned long long>(written));
    std::abort();
  }
  return 0;
}
