#include "jobs/JobCrypto.h"

namespace kvelv {

void ConfigureForContainer(CryptComponent& component, const std::string& password) {
  component.SetCryptAlgorithm("aes");
  component.SetCipherMode("cbc");
  component.SetKeyBits(256);
  component.SetHashAlgorithm("sha256");
  const std::vector<uint8_t> key = component.DigestText(password);
  component.LoadKey(component.EncodeBytes(key, "hex"), "hex");
  component.LoadIV(kContainerIV, "ascii");
}

}  // namespace kvelv
