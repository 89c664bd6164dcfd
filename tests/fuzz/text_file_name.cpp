// The name of the local text file from any configured path, forced name, time-stamp switch and
// clock reading, in the plain C locale and in UTF-8. In both, "/" and "." never occur inside a
// multibyte character, so the multibyte-aware searches must agree with plain byte searches; the
// name must be <folder>/<forced name or stamp>.<extension> by those searches.
// Input: switch, locale, clock reading, then the forced name and the configured path
// (FuzzedDataProvider layout).

#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "relay/output/text_file.h"
#include "relay/platform/env.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/in_process_env.h"

namespace {

// One settings folder per switch position, made once: the name rule reads the switch from there.
testing_support::InProcessEnv* EnvWithSwitch(bool stamped) {
  static std::unique_ptr<testing_support::InProcessEnv> envs[2];
  auto& env = envs[stamped];
  if (!env) {
    std::string folder = fuzz_support::ScratchFolder() + (stamped ? "/stamped" : "/plain");
    std::string command = "mkdir -p '" + folder + "'";
    if (std::system(command.c_str()) != 0) std::abort();
    fuzz_support::WriteBytes(folder + "/DbRelay.ini", stamped
                                                          ? "[General]\r\nSecLocalTextFileTimestamp=1\r\n"
                                                          : "[General]\r\nSecLocalTextFileTimestamp=0\r\n");
    env = std::make_unique<testing_support::InProcessEnv>(folder);
  }
  return env.get();
}

std::string Stamp(const dbrelay::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d-%02d-%02d-%04d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool stamped = input.ConsumeBool();
  std::setlocale(LC_CTYPE, input.ConsumeBool() ? "C.UTF-8" : "C");
  dbrelay::LocalTime now;
  now.year = input.ConsumeIntegralInRange(1, 9999);
  now.month = input.ConsumeIntegralInRange(1, 12);
  now.day = input.ConsumeIntegralInRange(1, 31);
  now.hour = input.ConsumeIntegralInRange(0, 23);
  now.minute = input.ConsumeIntegralInRange(0, 59);
  now.second = input.ConsumeIntegralInRange(0, 60);
  now.millisecond = input.ConsumeIntegralInRange(0, 999);
  const std::string forced = input.ConsumeRandomLengthString(256);
  const std::string configured = input.ConsumeRemainingBytesAsString();

  testing_support::InProcessEnv* env = EnvWithSwitch(stamped);
  env->local_time = now;
  std::string name;
  {
    dbrelay::ScopedEnvOverride use(env);
    name = dbrelay::BuildTextFileName(configured, forced);
  }

  if (configured.empty()) {
    FUZZ_CHECK(name.empty());
    return 0;
  }
  if (!stamped && forced.empty()) {
    FUZZ_CHECK(name == configured);
    return 0;
  }
  const size_t slash = configured.rfind('/');
  const size_t dot = configured.rfind('.');
  std::string expected = slash == std::string::npos ? "" : configured.substr(0, slash + 1);
  expected += forced.empty() ? Stamp(now) : forced;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    expected += configured.substr(dot);
  }
  FUZZ_CHECK(name == expected);
  return 0;
}
