// Preloaded into the console program by a test, it stands in for a crypto library that allows
// only approved algorithms: MD5 cannot be fetched, everything else can.
#include <dlfcn.h>
#include <openssl/evp.h>
#include <strings.h>

extern "C" EVP_MD* EVP_MD_fetch(OSSL_LIB_CTX* context, const char* algorithm, const char* properties) {
  using Fetch = EVP_MD* (*)(OSSL_LIB_CTX*, const char*, const char*);
  static const auto real = reinterpret_cast<Fetch>(dlsym(RTLD_NEXT, "EVP_MD_fetch"));
  if (algorithm != nullptr && strcasecmp(algorithm, "MD5") == 0) return nullptr;
  return real(context, algorithm, properties);
}
