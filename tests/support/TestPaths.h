#pragma once
// Where the tests find the built console program and the data folders. The paths are compiled
// into one generated file of the build (TestPaths.cpp in the build folder), so that every other
// test file compiles to the same object wherever the tree is checked out, and the compiler
// cache serves it to another clone.

namespace kvelv::test {

// The console program of this build.
const char* KvelvBinary();
// The root of the source tree.
const char* SourceDir();
// The optional shared test data (may be absent; tests that need it skip).
const char* SharedTestDataDir();
// The LD_PRELOAD library that slows reads down (tests/support/ThrottledRead.cpp); "" on Windows.
const char* ThrottledReadLibrary();

}  // namespace kvelv::test
