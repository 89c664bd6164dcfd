// Feeds arbitrary settings files to the reader and the writer. Properties:
//  - a read never returns more than the buffer cut or a NUL byte, and never fails;
//  - a write of a value the reader gives back unchanged (no blanks or quotes at its ends, no NUL)
//    reads back as written, cut to the buffer, and leaves every other key as it read before;
//  - a refused write leaves the file byte for byte as it was; only a name or value a line cannot
//    hold is refused, or, for a file in UTF-16, a file or value that would not convert without
//    loss.
// Input: the file contents, then the key and the value to write (FuzzedDataProvider layout).

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "settings/ini_file.h"
#include "settings/ini_lines.h"
#include "settings/ini_text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool ReadsBackUnchanged(std::string_view value) {
  if (value.find('\0') != std::string_view::npos) return false;
  if (settings::TrimBlanks(value).size() != value.size()) return false;
  return value.empty() || (value.front() != '"' && value.front() != '\'');
}

void CheckRead(const std::string& text) {
  FUZZ_CHECK(text.size() <= settings::kMaxIniValueLength);
  FUZZ_CHECK(text.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string contents = input.ConsumeRandomLengthString(1 << 16);
  // Mostly the names the seeds use, so reads and writes meet existing keys.
  static const char* const kKeys[] = {"Key", "kEY", "Other", "PriDBType", " Key "};
  const std::string key = input.ConsumeBool()
                              ? kKeys[input.ConsumeIntegralInRange<size_t>(0, 4)]
                              : input.ConsumeRandomLengthString(64);
  const std::string value = input.ConsumeRemainingBytesAsString();

  const std::string path = fuzz_support::ScratchFolder() + "/DbRelay.ini";
  fuzz_support::WriteBytes(path, contents);
  settings::IniFile ini(path);

  const std::string probes[] = {"Key", "Other", "PriDBType", key};
  std::string before[4];
  for (int i = 0; i < 4; ++i) {
    before[i] = ini.ReadString("General", probes[i], "\x01missing");
    if (before[i] != "\x01missing") CheckRead(before[i]);
    (void)ini.ReadInt("General", probes[i], -7);
  }
  const std::string elsewhere = ini.ReadString("Other", "Key", "\x01missing");

  int rc = ini.WriteString("General", key, value);
  if (rc != 0) {
    FUZZ_CHECK(rc == EINVAL || (rc == EILSEQ && settings::HasUtf16ByteOrderMark(contents)));
    FUZZ_CHECK(fuzz_support::ReadBytes(path) == contents);
    return 0;
  }

  const std::string_view written_key = settings::TrimBlanks(key);
  const std::string read_back = ini.ReadString("General", std::string(written_key), "\x01missing");
  CheckRead(read_back);
  if (ReadsBackUnchanged(value)) {
    FUZZ_CHECK(read_back == value.substr(0, settings::kMaxIniValueLength));
  }
  for (int i = 0; i < 3; ++i) {
    if (settings::EqualsIgnoringCase(probes[i], written_key)) continue;
    FUZZ_CHECK(ini.ReadString("General", probes[i], "\x01missing") == before[i]);
  }
  FUZZ_CHECK(ini.ReadString("Other", "Key", "\x01missing") == elsewhere);
  return 0;
}
