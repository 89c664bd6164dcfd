#include "replay/replay_main.h"

#include <clocale>
#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "relay/common/format_text.h"
#include "relay/database/ado_database.h"
#include "relay/database/connection_string.h"
#include "relay/platform/env.h"
#include "relay/platform/scoped_fd.h"
#include "relay/report/report.h"
#include "relay/run/run_statement.h"
#include "relay/settings/relay_ini.h"
#include "replay/exit_status.h"
#include "replay/queue_files.h"
#include "replay/replay_arguments.h"
#include "replay/replay_queue.h"
#include "settings/file_path.h"

namespace dbrelay::replay {

namespace {

unsigned long long U(uint64_t n) { return static_cast<unsigned long long>(n); }

// The name of the lock file that keeps a second replay out of a queue folder.
constexpr char kReplayLockName[] = ".DbRelayReplay.lock";

// Holds the replay lock of every folder the files are in, or tells which one another replay holds.
class ReplayLocks {
 public:
  // 0, kExitAnotherReplay, or kExitInputOutput (reported).
  int TakeFor(const std::vector<std::string>& files) {
    std::set<std::string> folders;
    for (const std::string& file : files) folders.insert(settings::FolderOf(file));
    Env* env = CurrentEnv();
    for (const std::string& folder : folders) {
      const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + kReplayLockName;
      fds_.emplace_back(std::make_unique<ScopedFd>(env));
      bool created = false;
      Status s = env->OpenOrCreateFile(path, fds_.back()->Receive(), &created);
      if (s.ok()) s = env->LockFileExclusive(fds_.back()->get(), 0);
      if (s.code() == EWOULDBLOCK) {
        env->WriteConsole(FormatText("Another DbRelayReplay is replaying the files of %s\n",
                                     folder.empty() ? "." : folder.c_str()));
        return kExitAnotherReplay;
      }
      if (!s.ok()) {
        ReportError(FormatText("Unable to replay the files of %s: cannot take %s (%s)\n\n"
                               "Error returned = %d\n",
                               folder.c_str(), path.c_str(), s.ToString().c_str(), s.code()),
                    Mailing::kAllowed);
        return kExitInputOutput;
      }
    }
    return 0;
  }

 private:
  std::vector<std::unique_ptr<ScopedFd>> fds_;
};

std::vector<std::string> FilesToTake(const ReplayArguments& arguments, Status* status) {
  if (arguments.action == ReplayAction::kRejectFirst) return {arguments.reject_file};
  if (!arguments.files.empty()) {
    // A file named twice is taken once: the second time it would be gone.
    std::vector<std::string> files;
    std::set<std::string> seen;
    for (const std::string& file : arguments.files) {
      if (seen.insert(file).second) files.push_back(file);
    }
    return files;
  }
  std::vector<std::string> files;
  *status = ConfiguredQueueFiles(ReadIniString(settings::kSecLocalTextFile),
                                 ReadIniInt(settings::kSecLocalTextFileTimestamp) != 0, &files);
  return files;
}

// Opens the primary exactly as a statement run does; reports a failure the way DbRelay does.
bool OpenPrimary(CADODatabase* database, bool listing) {
  const std::string primary = PrimaryConnectionString();
  LogDetail("\nPrimary Connection String: " + MaskConnectionPassword(primary) + "\n");
  database->SetConnectionString(primary);
  if (database->Open() != 0) {
    LogDetail("\nOpen ADO Connection OK\n");
    return true;
  }
  const std::string error_text = database->GetLastErrorText();
  const int last_error = errno;
  if (listing) {
    // A listing is asked for by a person at the console: it is shown, never mailed.
    ReportError(FormatText("Primary DB connection failed with error:\n%s\nGetLastError = %d\n\n"
                           "The ledger cannot be read: every parked statement is listed.\n",
                           error_text.c_str(), last_error),
                Mailing::kSuppressed);
    return false;
  }
  ReportError(FormatText("Primary DB connection failed with error:\n%s\nGetLastError = %d\n\n"
                         "Nothing was replayed; the parked statements stay pending.\n",
                         error_text.c_str(), last_error),
              Mailing::kAllowed);
  return false;
}

int RunAction(const ReplayArguments& arguments) {
  Status listed;
  const std::vector<std::string> files = FilesToTake(arguments, &listed);
  if (!listed.ok()) {
    ReportError(FormatText("Unable to list the time-stamped files beside %s (%s)\n\n"
                           "Error returned = %d\n",
                           ReadIniString(settings::kSecLocalTextFile).c_str(),
                           listed.ToString().c_str(), listed.code()),
                Mailing::kAllowed);
    return kExitInputOutput;
  }
  Env* env = CurrentEnv();
  if (files.empty()) {
    env->WriteConsole("DbRelayReplay: no file of parked statements, nothing pending\n");
    return kExitNothingPending;
  }

  // A listing changes nothing, so it takes no lock and leaves other replays alone.
  ReplayLocks locks;
  if (arguments.action != ReplayAction::kList) {
    if (int status = locks.TakeFor(files); status != 0) return status;
  }
  CADODatabase database;
  const bool listing = arguments.action == ReplayAction::kList;
  const bool primary_open = OpenPrimary(&database, listing);
  if (!primary_open && !listing) return kExitPrimaryDown;

  std::string host;
  if (!env->GetHostName(&host).ok()) host = "unknown";
  QueueReplay replay(primary_open ? &database : nullptr, host);
  if (arguments.action == ReplayAction::kRejectFirst) return replay.RejectFirst(files.front());

  ReplayTotals totals;
  int status = kExitNothingPending;
  for (const std::string& file : files) {
    status = arguments.action == ReplayAction::kList ? replay.List(file, &totals)
                                                     : replay.Replay(file, &totals);
    // A stop keeps the order: nothing of a later file runs before the earlier one is done.
    if (status != kExitNothingPending) break;
  }
  if (listing) {
    env->WriteConsole(FormatText("DbRelayReplay: %llu pending in %llu files\n", U(totals.pending),
                                 U(totals.files)));
    if (!primary_open && status == kExitNothingPending) return kExitPrimaryDown;
  } else {
    env->WriteConsole(FormatText("DbRelayReplay: %llu replayed from %llu files, %llu pending\n",
                                 U(totals.replayed), U(totals.files), U(totals.pending)));
  }
  return status;
}

}  // namespace

int ReplayMain(int argc, const char* const* argv) {
  Env* env = CurrentEnv();
  if (!env->PrepareProcess().ok()) return kExitInputOutput;
  if (std::setlocale(LC_CTYPE, "") == nullptr) std::setlocale(LC_CTYPE, "C");
  // The settings DbRelay reads, beside this program: one file configures both.
  UseSettingsFileBesideProgram("DbRelay.ini");

  ReplayArguments arguments;
  std::string error;
  if (!ParseReplayArguments(argc, argv, &arguments, &error)) {
    env->WriteConsole("DbRelayReplay: " + error + "\n\n" + ReplayUsageText());
    return kExitUsage;
  }
  if (arguments.action == ReplayAction::kHelp) {
    env->WriteConsole(ReplayUsageText());
    return kExitNothingPending;
  }
  if (arguments.action == ReplayAction::kVersion) {
    env->WriteConsole(ReplayVersionText());
    return kExitNothingPending;
  }
  if (env->ExecutablePath().empty()) {
    env->WriteConsole("DbRelayReplay: cannot find its own folder, so not its settings either\n");
    return kExitInputOutput;
  }
  if (int read_error = SettingsFileReadError(); read_error != 0) {
    ReportError(FormatText("Unable to read settings file: %s\n\nError returned = %d\n",
                           GetIniPath().c_str(), read_error),
                Mailing::kSuppressed);
    return kExitInputOutput;
  }
  return RunAction(arguments);
}

}  // namespace dbrelay::replay
