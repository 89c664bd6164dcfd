// Cost of one durable append to the local text file, in process and as a whole process.
// The folder is DBRELAY_BENCH_DIR, or a new folder under the system's temporary folder; give it a
// folder on the disk the text file will live on, since fsync is most of the cost.

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "relay/output/text_file.h"

extern char** environ;

namespace {

const std::string kStatement = "UPDATE Docs SET Signed=1 WHERE Id=7";

std::string BenchDir() {
  static const std::string dir = [] {
    if (const char* d = ::getenv("DBRELAY_BENCH_DIR")) return std::string(d);
    std::string pattern =
        (std::filesystem::temp_directory_path() / "dbrelay-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return dir;
}

int RunAndWait(const char* program, const std::string& a1, const std::string& a2) {
  char* argv[] = {const_cast<char*>(program), const_cast<char*>(a1.c_str()),
                  const_cast<char*>(a2.c_str()), nullptr};
  pid_t pid;
  if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_AppendToExistingFile(benchmark::State& state) {
  const std::string path = BenchDir() + "/existing.txt";
  std::string statement(static_cast<size_t>(state.range(0)), 'q');
  for (auto _ : state) {
    if (dbrelay::AppendStatementToTextFile(path, statement) != 0)
      state.SkipWithError("append failed");
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_AppendToExistingFile)->Arg(40)->Arg(128 * 1024)->Unit(benchmark::kMillisecond);

void BM_AppendCreatingTheFile(benchmark::State& state) {
  long n = 0;
  for (auto _ : state) {
    const std::string path = BenchDir() + "/new-" + std::to_string(n++) + ".txt";
    if (dbrelay::AppendStatementToTextFile(path, kStatement) != 0)
      state.SkipWithError("append failed");
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_AppendCreatingTheFile)->Unit(benchmark::kMillisecond);

// A whole process doing one append, as a DbRelay run that falls back to the file.
void BM_AppendAsOneProcess(benchmark::State& state) {
  const std::string program =
      std::filesystem::path(::program_invocation_name).parent_path() / "append_once";
  const std::string path = BenchDir() + "/process.txt";
  for (auto _ : state) {
    if (RunAndWait(program.c_str(), path, kStatement) != 0) state.SkipWithError("append failed");
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_AppendAsOneProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same process start without the append, to tell the two costs apart.
void BM_ProcessWithoutAppend(benchmark::State& state) {
  const std::string program =
      std::filesystem::path(::program_invocation_name).parent_path() / "append_once";
  for (auto _ : state) RunAndWait(program.c_str(), "", "");  // refused at once: no file named
}
BENCHMARK(BM_ProcessWithoutAppend)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
