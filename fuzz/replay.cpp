// Runs saved inputs through a fuzz target's harness without libFuzzer, so that any compiler can
// build it: `replay_NAME PATH...`, each PATH a file or a directory of files (its entries in name
// order, hidden files skipped; a path that does not exist is skipped with a note). A failed
// check aborts, as under the fuzzer. Fails when no input was replayed at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && !in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    std::exit(1);
  }
  std::printf("replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
  std::fflush(stdout);
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (!std::filesystem::exists(path)) {
      std::printf("no %s: skipped\n", path.c_str());
      continue;
    }
    if (!std::filesystem::is_directory(path)) {
      replay(path);
      ++replayed;
      continue;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(path))
      if (e.is_regular_file() && e.path().filename().string().front() != '.') files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) replay(file);
    replayed += static_cast<int>(files.size());
  }
  std::printf("%d inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
