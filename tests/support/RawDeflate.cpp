#include "tests/support/RawDeflate.h"

#include <zlib.h>

#include <stdexcept>

namespace kvelv::test {

std::string RawDeflate(const std::string& data, int level) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
  std::string out(deflateBound(&zs, static_cast<uLong>(data.size())) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

std::string RawInflate(const std::string& deflated) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) throw std::runtime_error("inflate");
  std::string out;
  std::string block(1 << 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  zs.avail_in = static_cast<uInt>(deflated.size());
  int result = Z_OK;
  while (result == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(block.data());
    zs.avail_out = static_cast<uInt>(block.size());
    result = inflate(&zs, Z_NO_FLUSH);
    out.append(block.data(), block.size() - zs.avail_out);
    if (result == Z_BUF_ERROR && zs.avail_in == 0) break;
  }
  const bool whole = result == Z_STREAM_END && zs.avail_in == 0;
  inflateEnd(&zs);
  return whole ? out : "<not one whole stream>";
}

}  // namespace kvelv::test
