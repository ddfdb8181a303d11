// The main of a harness in the normal builds: replays every file named on the
// command line, or held in a directory named there (files whose names begin
// with "." are skipped), through the harness once each, in name order. A
// missing directory replays nothing. Ends with the count, or with the
// harness's own failure (an abort, a sanitizer report).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    fs::path p(argv[i]);
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      std::vector<fs::path> in;
      for (auto const& e : fs::directory_iterator(p, ec))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') in.push_back(e.path());
      std::sort(in.begin(), in.end());
      files.insert(files.end(), in.begin(), in.end());
    } else if (fs::is_regular_file(p, ec)) {
      files.push_back(p);
    }
  }
  for (fs::path const& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay %s (%zu bytes)\n", f.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<uint8_t const*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
