#pragma once
// Starts DbRelay in one of its test modes: "<editor folder>/DbRelay <word>" as an argv (no shell),
// with the editor's environment and current folder. The child's stdin is /dev/null; its stdout and
// stderr go into one pipe so the editor can show what it prints.

#include <sys/types.h>

#include <string>
#include <vector>

namespace config_editor {

struct LaunchedTest {
  pid_t pid = -1;
  int output_fd = -1;  // read end of the child's stdout/stderr, non-blocking, close-on-exec
};

// The argv of the test run: {folder + "/DbRelay", word}.
std::vector<std::string> DbRelayTestArgv(const std::string& editor_folder, const std::string& word);

// Starts the test. Returns 0 and fills *test, or the errno when the process could not be started
// (for example DbRelay is missing from the folder); then nothing is left open.
int LaunchDbRelayTest(const std::string& editor_folder, const std::string& word,
                      LaunchedTest* test);

// Reaps the child without blocking. Returns true once it has ended, with *status set to its wait
// status (or -1 when it was reaped elsewhere and its status is lost).
bool ChildHasEnded(pid_t pid, int* status);

}  // namespace config_editor
