#pragma once
// Exceptions of the archive library. Every class derives from EZipException; the texts are the
// library's fixed English messages.
#include <string>

#include "platform/Error.h"

namespace kvelv {

#define KVELV_ZIP_EXCEPTION(Name, Base)                                   \
  class Name : public Base {                                              \
   public:                                                                \
    using Base::Base;                                                     \
    const char* ClassName() const noexcept override { return #Name; }     \
  };

class EZipException : public Error {
 public:
  using Error::Error;
  const char* ClassName() const noexcept override { return "EZipException"; }
};

KVELV_ZIP_EXCEPTION(EFCreateError, EZipException)            // "Cannot create file "%s". %s"
KVELV_ZIP_EXCEPTION(EFOpenError, EZipException)              // archive cannot be opened
KVELV_ZIP_EXCEPTION(ENotEnoughRoom, EZipException)           // "Not enough room to write archive"
KVELV_ZIP_EXCEPTION(EUserCanceled, EZipException)            // "User Aborted Operation"
KVELV_ZIP_EXCEPTION(EIncompleteZip, EZipException)           // "Incomplete Zip File"
KVELV_ZIP_EXCEPTION(ENotAZipFile, EZipException)             // "Not a valid zip file!"
KVELV_ZIP_EXCEPTION(EBadZipFile, EZipException)              // "Not a valid zip file!"
KVELV_ZIP_EXCEPTION(EListError, EZipException)               // "Index %d is out of range", ...
KVELV_ZIP_EXCEPTION(EFatalUnzipError, EZipException)         // "Premature end of file reached"
KVELV_ZIP_EXCEPTION(EBiggerThanUncompressed, EZipException)  // "File is larger than uncompressed size!"
KVELV_ZIP_EXCEPTION(ECantWriteUCF, EZipException)            // "Cant write uncompressed file"
KVELV_ZIP_EXCEPTION(EMultiPartUnsupported, EZipException)    // archive is one part of a set
KVELV_ZIP_EXCEPTION(EZLibError, EZipException)
KVELV_ZIP_EXCEPTION(EZCompressionError, EZLibError)          // "error"
KVELV_ZIP_EXCEPTION(EBadCompressedData, EZipException)       // shrink/reduce/implode data that cannot be decoded
KVELV_ZIP_EXCEPTION(EDestDirError, EZipException)            // the target folder cannot be used
KVELV_ZIP_EXCEPTION(ESourceChanged, EZipException)           // "File "%s" changed while it was packed"

#undef KVELV_ZIP_EXCEPTION

// The library's fixed messages, each defined here once.
namespace zip_text {
inline constexpr const char kPrematureEnd[] = "Premature end of file reached";
inline constexpr const char kNotEnoughRoom[] = "Not enough room to write archive";
inline constexpr const char kBiggerThanUncompressed[] = "File is larger than uncompressed size!";
inline constexpr const char kCantWriteUcf[] = "Cant write uncompressed file";
inline constexpr const char kUserAborted[] = "User Aborted Operation";
inline constexpr const char kIncompleteZip[] = "Incomplete Zip File";
inline constexpr const char kNotAZip[] = "Not a valid zip file!";
inline constexpr const char kCompressionError[] = "error";
inline constexpr const char kSourceChanged[] = "changed while it was packed";
}  // namespace zip_text

}  // namespace kvelv
