// A small program the output tests start as a process.
//
//   output_test_helper append <path> <statement>        prints the result of one append
//   output_test_helper storm <path> <tag> <count>       appends "<tag>-<i>-<padding>" count times,
//                                                       printing "<i> <result>" after each
//   output_test_helper signer                           a stand-in signer (see below)
//
// As a signer it writes its argv, NUL-separated, and whether stdin and stdout are /dev/null to
// the file named by DBRELAY_FAKE_SIGNER_OUT, then exits with DBRELAY_FAKE_SIGNER_EXIT. It acts as
// the signer whenever DBRELAY_FAKE_SIGNER_OUT is set, whatever its arguments.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "relay/output/text_file.h"

namespace {

void Print(const std::string& line) {
  // Unbuffered, so a killed process has reported exactly the appends that returned.
  ssize_t ignored = ::write(STDOUT_FILENO, line.data(), line.size());
  (void)ignored;
}

bool IsDevNull(int fd) {
  struct stat a {
  }, b{};
  return ::fstat(fd, &a) == 0 && ::stat("/dev/null", &b) == 0 && a.st_rdev == b.st_rdev &&
         S_ISCHR(a.st_mode);
}

int ActAsSigner(int argc, char** argv, const char* out) {
  std::string record;
  for (int i = 0; i < argc; ++i) record += std::string(argv[i]) + '\0';
  record += IsDevNull(STDIN_FILENO) ? "stdin=null\n" : "stdin=other\n";
  record += IsDevNull(STDOUT_FILENO) ? "stdout=null\n" : "stdout=other\n";
  FILE* f = std::fopen(out, "wb");
  if (f == nullptr) return 99;
  std::fwrite(record.data(), 1, record.size(), f);
  std::fclose(f);
  const char* code = std::getenv("DBRELAY_FAKE_SIGNER_EXIT");
  return code != nullptr ? std::atoi(code) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* out = std::getenv("DBRELAY_FAKE_SIGNER_OUT")) return ActAsSigner(argc, argv, out);
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "append" && argc == 4) {
    Print(std::to_string(dbrelay::AppendStatementToTextFile(argv[2], argv[3])) + "\n");
    return 0;
  }
  if (mode == "storm" && argc == 5) {
    long count = std::atol(argv[4]);
    for (long i = 0; i < count; ++i) {
      // Records of varied length, a few kilobytes at most.
      std::string statement = std::string(argv[3]) + "-" + std::to_string(i) + "-" +
                              std::string(static_cast<size_t>(i * 37 % 3000), 'x');
      int rc = dbrelay::AppendStatementToTextFile(argv[2], statement);
      Print(std::to_string(i) + " " + std::to_string(rc) + "\n");
    }
    return 0;
  }
  std::fprintf(stderr, "usage: output_test_helper append|storm ...\n");
  return 2;
}
