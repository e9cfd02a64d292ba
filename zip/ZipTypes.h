#pragma once
// Enumerations and record signatures shared by the archive records, the reader and the writer.
//
// Several enumerations share their name with the property that holds them (OEMConvert(),
// IncompleteZipMode(), EncryptStrength()). Inside members of those classes write the type with
// its namespace, e.g. kvelv::OEMConvert::oemFlexible.
#include <cstdint>
#include <string>

namespace kvelv {

enum class ZipSortMode {
  ByName, ByFileName, ByDirectoryName, ByDate, ByCompressedSize, ByUnCompressedSize, ByRate, ByNone
};
enum class UZOverwriteMode { Prompt, Always, Never, ifNewer, ifOlder };
enum class IncompleteZipMode { izAssumeMulti, izAssumeBad, izAssumeNotAZip };
enum class SkipReason {
  srBadPassword, srNoOverwrite, srFileOpenError, srCreateError, srExcludeList,
  srArchiveBitNotSet, srNoFileToFreshen, srSkippedInStartZip
};
enum class OEMConvert { oemNever, oemFlexible };
enum class MultiMode { mmNone, mmSpan, mmBlocks };
enum class EncryptStrength { esPKStandard, esAES128, esAES192, esAES256 };

// How far a pass has got, reported between blocks of work.
struct PassProgress {
  std::string name;   // the file being packed, or the entry being tested or extracted
  int64_t done = 0;   // bytes read from the files (packing), or decoded (testing, extracting)
  int64_t total = 0;  // the bytes the pass has to handle in all
};

// Record signatures and fixed sizes of the archive format.
inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t kEndCentralSignature = 0x06054B50;
inline constexpr uint32_t kZip64EndCentralSignature = 0x06064B50;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr uint32_t kDataDescriptorSignature = 0x08074B50;

inline constexpr int kLocalHeaderSize = 30;
inline constexpr int kCentralHeaderSize = 46;
inline constexpr int kEndCentralSize = 22;
inline constexpr int kZip64EndCentralSize = 56;
inline constexpr int kZip64LocatorSize = 20;

inline constexpr uint16_t kZip64ExtraId = 0x0001;
inline constexpr uint16_t kUnicodePathExtraId = 0x7075;
inline constexpr uint16_t kAesExtraId = 0x9901;

inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8 = 0x0800;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;
inline constexpr uint16_t kMethodAes = 99;

// Buffer size of every file stream the archive classes open.
inline constexpr int kStreamBufferSize = 8192;

}  // namespace kvelv
