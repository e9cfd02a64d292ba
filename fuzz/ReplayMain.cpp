// Runs a fuzz harness's entry function over files and folders of inputs without libFuzzer, so
// the regression inputs replay in every build. Prints each input before it runs, so a crash
// names its input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunOne(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::printf("replay %s (%zu bytes)\n", path.c_str(), bytes.size());
  std::fflush(stdout);
  (void)LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      std::vector<std::filesystem::path> files;
      for (const auto& item : std::filesystem::recursive_directory_iterator(arg))
        if (item.is_regular_file() && item.path().filename().string()[0] != '.') files.push_back(item.path());
      std::sort(files.begin(), files.end());
      for (const auto& file : files) RunOne(file), ++count;
    } else if (std::filesystem::exists(arg)) {
      RunOne(arg), ++count;
    }
  }
  std::printf("%d inputs replayed\n", count);
  return 0;
}
