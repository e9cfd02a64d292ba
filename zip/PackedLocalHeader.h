#pragma once
// The local header of an entry being packed. It is written twice: before the data with the
// values known then, and in place after it with the final ones; both writes must have the same
// length. Whether the sizes go into a Zip64 field is decided once, from the file length at
// opening (NeedsZip64Reserve), and holds for both writes.
#include <cstdint>

namespace kvelv {

class BufferedFileStream;
class ZipHeaderInfo;

// True when the data of a `size`-byte file could reach 0xFFFFFFFF bytes, stored or deflated: its
// local header then carries both sizes in a Zip64 field from the first write on.
bool NeedsZip64Reserve(uint64_t size);

// Most source bytes an entry without that field may take: the deflated data of this many bytes
// stays below 0xFFFFFFFF. A file read past its length (one whose length tells nothing of its
// content, see zip/SourceFile.h) is cut there.
uint64_t MaxBytesWithoutZip64Reserve();

// Writes the local header of `entry` at the current position and records the position as its
// relative offset. With `reserveZip64Sizes` both size fields hold 0xFFFFFFFF and the full values
// go into the Zip64 field; the offset joins that field when it needs 64 bits. Returns the number
// of bytes written. Throws ENotEnoughRoom when the stream cannot take them.
int64_t WritePackedLocalHeader(BufferedFileStream& out, ZipHeaderInfo& entry, bool reserveZip64Sizes);

}  // namespace kvelv
