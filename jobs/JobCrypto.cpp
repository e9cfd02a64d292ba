#include "jobs/JobCrypto.h"

namespace kvelv {

void ConfigureForContainer(CryptComponent& component, const platform::SecretBytes& password) {
  component.SetCryptAlgorithm("aes");
  component.SetCipherMode("cbc");
  component.SetKeyBits(256);
  component.SetHashAlgorithm("sha256");
  // The digest is the key as it is: loading it through its hex text, as the component also
  // allows, gives the same key and would only leave that text behind.
  component.LoadKey(component.DigestText(password));
  component.LoadIV(kContainerIV, "ascii");
}

}  // namespace kvelv
