#include "tests/reliability/relay_fleet.h"


#include <stdexcept>

#include "tests/support/odbc_config.h"

namespace reliability {

using testing_support::RunOptions;

std::vector<std::string> PrimaryDownToTextFile(const testing_support::RelaySandbox& relay,
                                               const std::string& text_file) {
  return {"PriDBType=2",
          "PriOtherConnStr=Driver=SQLite3;Database=" + relay.File("absent/none.db") + ";NoCreat=1",
          "SecDBType=3", "SecLocalTextFile=" + text_file};
}

RunOptions RelayOptions() {
  RunOptions options;
  options.env = testing_support::OdbcConfig::Get().Env();
  options.env.insert_or_assign("DBRELAY_REPORT_PAUSE_MS", std::string(1, '0'));
  options.unset_env = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  return options;
}

namespace {

testing_support::ChildOptions StartedOptions(const RunOptions& options,
                                             const std::string& stdout_path) {
  testing_support::ChildOptions child;
  child.run = options;
  child.out = stdout_path.empty() ? testing_support::ChildOptions::Out::kNull
                                  : testing_support::ChildOptions::Out::kFile;
  child.out_file = stdout_path;
  return child;
}

}  // namespace

StartedProcess::StartedProcess(const std::vector<std::string>& argv, const RunOptions& options,
                               const std::string& stdout_path)
    : ChildProcess(argv, StartedOptions(options, stdout_path)) {}

bool SplitRecords(const std::string& content, std::vector<std::string>* records,
                  size_t* torn_at) {
  records->clear();
  for (size_t start = 0; start < content.size();) {
    size_t end = content.find("\r\n", start);
    if (end == std::string::npos) {
      *torn_at = start;
      return false;
    }
    records->push_back(content.substr(start, end - start));
    start = end + 2;
  }
  return true;
}

namespace {
char PaddingLetter(int number) { return static_cast<char>('a' + number % 26); }
size_t PaddingLength(int number, size_t padding) {
  return padding + static_cast<size_t>(number) * 7919 % 997;
}
}  // namespace

std::string MakeStatement(const std::string& tag, int number, size_t padding) {
  return "INSERT INTO Queue VALUES ('" + tag + "', " + std::to_string(number) + ", '" +
         std::string(PaddingLength(number, padding), PaddingLetter(number)) + "')";
}

bool ParseStatement(const std::string& record, std::string* tag, int* number) {
  static const std::string kHead = "INSERT INTO Queue VALUES ('";
  if (record.rfind(kHead, 0) != 0) return false;
  size_t tag_end = record.find("', ", kHead.size());
  if (tag_end == std::string::npos) return false;
  size_t number_end = record.find(", '", tag_end + 3);
  if (number_end == std::string::npos) return false;
  try {
    *number = std::stoi(record.substr(tag_end + 3, number_end - tag_end - 3));
  } catch (const std::exception&) {
    return false;
  }
  *tag = record.substr(kHead.size(), tag_end - kHead.size());
  // The padding's length is free (it carries the base padding); its letter and its end are not.
  std::string padding = record.substr(number_end + 3);
  if (padding.size() < 2 || padding.substr(padding.size() - 2) != "')") return false;
  padding.resize(padding.size() - 2);
  if (padding.empty()) return false;
  for (char c : padding) {
    if (c != PaddingLetter(*number)) return false;
  }
  return MakeStatement(*tag, *number, padding.size() - (PaddingLength(*number, 0))) == record;
}

}  // namespace reliability
