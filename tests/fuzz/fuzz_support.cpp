#include "tests/fuzz/fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fuzz_support {

namespace {

std::string MakeScratchFolder() {
  std::string base = "/tmp";
  struct stat st {};
  if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0) {
    base = "/dev/shm";
  }
  std::string folder = base + "/dbrelay-fuzz-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return folder;
}

}  // namespace

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    // run_fuzzer.sh hands one in and removes it, also after a crash.
    if (const char* given = std::getenv("DBRELAY_FUZZ_SCRATCH"); given != nullptr && *given) {
      return std::string(given);
    }
    std::string made = MakeScratchFolder();
    static std::string to_remove = made;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(to_remove, ignored);
    });
    return made;
  }();
  return folder;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace fuzz_support
