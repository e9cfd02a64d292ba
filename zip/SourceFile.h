#pragma once
// A file being packed. Its length and stamp are taken when it is opened; it is read up to that
// length, summing the CRC-32 of what was read; once read, Finish() makes sure the file did not
// change meanwhile. A file that only grew at its end (a log being written) is packed as the
// bytes it had when it was opened, once they are found still in place; any other change
// (shorter, rewritten, written to without growing, fewer bytes than its length) raises
// ESourceChanged. So an entry never holds a content the file never had. A file that yields more
// than its length without any change showing (/proc files tell a length of 0) is read to its end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "platform/File.h"
#include "platform/FileStamp.h"

namespace kvelv {

class SourceFile {
 public:
  // Opens `path` for reading, others allowed to read and write (deny none); false, with `ec`,
  // when it cannot be opened or measured.
  bool Open(const std::string& path, std::error_code& ec);
  bool IsOpen() const { return file_.IsOpen(); }
  const std::string& Path() const { return path_; }
  // The file as it was when opened: its length is what will be packed.
  const platform::FileStamp& AtOpen() const { return atOpen_; }
  int64_t Length() const { return atOpen_.size; }

  // Up to `max` bytes; 0 at the end: at Length(), unless the file goes on without having changed
  // (see above). A read error raises EZipException naming the file.
  size_t Read(uint8_t* buffer, size_t max);
  uint64_t BytesRead() const { return read_; }
  uint32_t Crc() const;  // the CRC-32 of the bytes read so far

  // Raises ESourceChanged unless all of Length() (or more, see above) was read and the file
  // still holds it.
  void Finish();
  void Close() { file_.Close(); }

 private:
  bool StillStartsWithWhatWasRead() const;

  std::string path_;
  platform::File file_;
  platform::FileStamp atOpen_;
  uint64_t read_ = 0;
  uint32_t crcRegister_ = 0;
  bool ended_ = false;        // the end was found at Length()
  bool pastLength_ = false;   // yields more than its length, unchanged: read to its end
};

}  // namespace kvelv
