#include "jobs/LoginHash.h"

#include <cstdint>

#include "jobs/sealed/Primitives.h"
#include "jobs/sealed/SealedFormat.h"

namespace kvelv {

namespace {

constexpr std::string_view kPrefix = "$argon2id$v=19$";

// Reads "<key>=<decimal>" at `text`, advancing past it; false when it is not there or too large.
bool ReadParameter(std::string_view& text, char key, uint32_t& value) {
  if (text.size() < 3 || text[0] != key || text[1] != '=') return false;
  text.remove_prefix(2);
  uint64_t number = 0;
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 10)
    number = number * 10 + static_cast<uint64_t>(text[digits++] - '0');
  if (digits == 0 || number > UINT32_MAX) return false;
  text.remove_prefix(digits);
  value = static_cast<uint32_t>(number);
  return true;
}

}  // namespace

bool IsArgon2idLoginHash(std::string_view stored) { return stored.substr(0, 10) == "$argon2id$"; }

bool CheckArgon2idLoginHash(const std::string& stored, std::string_view password) {
  std::string_view text = stored;
  if (text.substr(0, kPrefix.size()) != kPrefix) return false;
  text.remove_prefix(kPrefix.size());
  sealed::KdfParams params;
  if (!ReadParameter(text, 'm', params.memoryKiB) || text.empty() || text[0] != ',') return false;
  text.remove_prefix(1);
  if (!ReadParameter(text, 't', params.passes) || text.empty() || text[0] != ',') return false;
  text.remove_prefix(1);
  if (!ReadParameter(text, 'p', params.lanes) || text.empty() || text[0] != '$') return false;
  // Other tools write more lanes (computed one after the other here); memory and passes have
  // the container's limits.
  if (params.lanes < 1 || params.lanes > 16) return false;
  params.lanes = 1;
  if (!sealed::KdfProblem(params).empty()) return false;
  return sealed::Argon2idVerify(stored, password);
}

std::string MakeArgon2idLoginHash(std::string_view password) {
  return sealed::Argon2idEncode(password, kLoginHashPasses, kLoginHashMemoryKiB);
}

}  // namespace kvelv
