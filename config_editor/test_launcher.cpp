#include "config_editor/test_launcher.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace config_editor {

std::vector<std::string> DbRelayTestArgv(const std::string& editor_folder,
                                         const std::string& word) {
  return {editor_folder + "/DbRelay", word};
}

int LaunchDbRelayTest(const std::string& editor_folder, const std::string& word,
                      LaunchedTest* test) {
  std::vector<std::string> argv_strings = DbRelayTestArgv(editor_folder, word);
  std::vector<char*> argv;
  for (std::string& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return errno;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  pid_t pid = -1;
  // posix_spawn, not posix_spawnp: the program is the one in the editor's folder, never one on PATH.
  int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return rc;
  }
  ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  test->pid = pid;
  test->output_fd = fds[0];
  return 0;
}

bool ChildHasEnded(pid_t pid, int* status) {
  pid_t rc;
  do {
    rc = ::waitpid(pid, status, WNOHANG);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0 && errno == ECHILD) *status = -1;
  return rc == pid || (rc < 0 && errno == ECHILD);
}

}  // namespace config_editor
