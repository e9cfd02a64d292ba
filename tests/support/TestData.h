#pragma once
// Made-up file contents for the tests, the same for the same seed on every run and system.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace kvelv::test {

// `text` `times` over: names of many characters.
inline std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// `count` pseudo-random bytes: incompressible content.
inline std::string RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

// `count` bytes of log lines: text that compresses the way real logs do.
inline std::string LogText(size_t count, uint32_t seed) {
  static const char* const kWords[] = {"request", "session", "worker", "cache", "retry", "status=200", "timeout"};
  std::mt19937 generator(seed);
  std::string text;
  while (text.size() < count) {
    text += "2026-03-01 12:" + std::to_string(generator() % 60) + " INFO ";
    for (int i = 0; i < 6; ++i) text += std::string(kWords[generator() % 7]) + " ";
    text += std::to_string(generator() % 100000) + "\n";
  }
  text.resize(count);
  return text;
}

}  // namespace kvelv::test
