// Cost of the settings reads a run makes: every decision reads the file anew.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "settings/ini_file.h"
#include "settings/setting_codec.h"

namespace {

std::string WriteTypicalIni() {
  std::string path = "/tmp/dbrelay_settings_bench.ini";
  std::ofstream out(path, std::ios::binary);
  const char* keys[] = {"PriDBType", "PriConnectionString", "PriOtherConnStr", "SecDBType",
                        "SecConnectionString", "SecOtherConnStr", "UseSecConn", "SecLocalTextFile",
                        "SecLocalTextFileTimestamp", "MsgBoxOnError", "DetailedLog",
                        "RaiseErrorIfAffectedLinesLessThen", "EmailOnError", "EmailWhenBothDBFail",
                        "EmailSMTP", "EmailPort", "EmailUserName", "EmailPassword", "EmailFrom",
                        "EmailTo", "EmailSubject", "DigitallySign", "PdfSignerPath", "CopyFile",
                        "CopyFilePath"};
  out << "[General]\r\n";
  for (const char* key : keys) out << key << "=" << settings::EncodeSettingValue("value") << "\r\n";
  return path;
}

void BM_ReadLastKey(benchmark::State& state) {
  settings::IniFile ini(WriteTypicalIni());
  for (auto _ : state) benchmark::DoNotOptimize(ini.ReadString("General", "CopyFilePath", ""));
}
BENCHMARK(BM_ReadLastKey);

void BM_DecodeConnectionString(benchmark::State& state) {
  std::string stored = settings::EncodeSettingValue(
      "Provider=SQLOLEDB.1;Server=db01,1433;Database=Docs;Uid=relay;Pwd=secret;");
  for (auto _ : state) benchmark::DoNotOptimize(settings::DecodeSettingValue(stored));
}
BENCHMARK(BM_DecodeConnectionString);

}  // namespace

BENCHMARK_MAIN();
