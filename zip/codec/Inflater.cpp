#include "zip/codec/Inflater.h"

#ifdef KVELV_HAVE_ISAL
#include "zip/codec/IsalInflater.h"
#else
#include "zip/codec/ZlibInflater.h"
#endif

namespace kvelv {

#ifdef KVELV_HAVE_ISAL
using BuildInflater = IsalInflater;
constexpr const char* kLibrary = "isa-l";
#else
using BuildInflater = ZlibInflater;
constexpr const char* kLibrary = "zlib";
#endif

struct Inflater::State {
  BuildInflater inflater;
};

Inflater::Inflater() : state_(std::make_unique<State>()) {}
Inflater::~Inflater() = default;

void Inflater::Inflate(ByteSource& in, ByteSink& out) { state_->inflater.Inflate(in, out); }

const char* Inflater::Library() { return kLibrary; }

void Inflate(ByteSource& in, ByteSink& out) { Inflater().Inflate(in, out); }

}  // namespace kvelv
