// Rewrites one key of a settings file with the shared writer, flipping it between two values, until
// a stop file appears; then prints the number of saves made. With "editor", every save is the
// settings editor's whole sequence of 25 writes (each key written back with the value it holds,
// the flipped key with its new one), as a save from the dialog does it.
//
// Usage: settings_rewriter INI STOP_FILE KEY VALUE_A VALUE_B [editor]
// Exit status 0, or 1 with the errno of a failed write on stderr.

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "settings/ini_file.h"

namespace {

constexpr const char* kSection = "General";

// The order in which the editor saves its keys.
const std::vector<std::string> kEditorKeys = {
    "PriDBType", "PriConnectionString", "SecDBType", "SecConnectionString", "UseSecConn",
    "PriOtherConnStr", "SecOtherConnStr", "SecLocalTextFile", "SecLocalTextFileTimestamp",
    "MsgBoxOnError", "DetailedLog", "RaiseErrorIfAffectedLinesLessThen", "EmailOnError",
    "EmailSMTP", "EmailPort", "EmailUserName", "EmailPassword", "EmailFrom", "EmailTo",
    "EmailSubject", "EmailWhenBothDBFail", "DigitallySign", "PdfSignerPath", "CopyFile",
    "CopyFilePath"};

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: settings_rewriter INI STOP_FILE KEY VALUE_A VALUE_B [editor]\n");
    return 2;
  }
  const settings::IniFile ini(argv[1]);
  const std::string stop = argv[2];
  const std::string flipped = argv[3];
  const std::string values[2] = {argv[4], argv[5]};
  const bool editor = argc == 7 && std::string(argv[6]) == "editor";

  long saves = 0;
  while (!Exists(stop)) {
    const std::string& value = values[(saves + 1) % 2];
    std::vector<std::pair<std::string, std::string>> writes;
    if (editor) {
      for (const std::string& key : kEditorKeys) {
        writes.emplace_back(key, key == flipped ? value : ini.ReadString(kSection, key, ""));
      }
    } else {
      writes.emplace_back(flipped, value);
    }
    for (const auto& [key, text] : writes) {
      if (int rc = ini.WriteString(kSection, key, text); rc != 0) {
        std::fprintf(stderr, "writing %s failed: errno %d\n", key.c_str(), rc);
        return 1;
      }
    }
    ++saves;
  }
  std::printf("%ld\n", saves);
  return 0;
}
