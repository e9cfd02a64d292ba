#pragma once
// Reference deflate and inflate by zlib, for tests of both builds.
#include <string>

namespace kvelv::test {

// One raw deflate stream of `data` at `level`, made by zlib in one call (zlib's output does not
// depend on how the input is handed over, so this is the single stream of any writer).
std::string RawDeflate(const std::string& data, int level);
// zlib's raw inflate of one whole stream. The result is "<not one whole stream>" unless the stream
// ends exactly at the end of `deflated`.
std::string RawInflate(const std::string& deflated);

}  // namespace kvelv::test
