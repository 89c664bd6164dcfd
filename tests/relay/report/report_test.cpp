#include "relay/report/report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "relay/platform/env.h"
#include "tests/support/in_process_env.h"
#include "tests/support/relay_sandbox.h"
#include "tests/support/xvfb_server.h"

namespace {

using testing_support::RelaySandbox;
using testing_support::RunOptions;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// The reporting code in this process, with the pause variable under the test's control and a box
// that can be shown unless a test says otherwise.
class RecordingEnv : public testing_support::InProcessEnv {
 public:
  explicit RecordingEnv(const std::string& folder) : InProcessEnv(folder) { notice_can_show = true; }
  std::optional<std::string> GetVariable(const char* name) override {
    if (std::string(name) == "DBRELAY_REPORT_PAUSE_MS") return pause_variable;
    return InProcessEnv::GetVariable(name);
  }
  std::optional<std::string> pause_variable;
};

class ReportTest : public testing::Test {
 protected:
  void WriteSettings(const std::string& lines) {
    WriteFileBytes(dir_.File("DbRelay.ini"), "[General]\r\n" + lines);
  }
  TempDir dir_;
  RecordingEnv env_{dir_.path()};
  dbrelay::ScopedEnvOverride use_{&env_};
};

TEST_F(ReportTest, ConsoleGetsTheTextVerbatimThenTheFullPause) {
  dbrelay::ReportError("100% LIKE 'a%s%n%d'\n", dbrelay::Mailing::kAllowed);
  EXPECT_EQ(env_.console, "100% LIKE 'a%s%n%d'\n");
  EXPECT_EQ(env_.pauses, std::vector<int>{5000});
  EXPECT_TRUE(env_.notices.empty());
}

struct SwitchCase {
  const char* name;
  std::string settings;
  bool box;
};

class ReportSwitchTest : public ReportTest, public testing::WithParamInterface<SwitchCase> {};

TEST_P(ReportSwitchTest, MessageBoxOnlyWhenExactlyOne) {
  WriteSettings(GetParam().settings);
  dbrelay::ReportError("text\n", dbrelay::Mailing::kAllowed);
  EXPECT_EQ(env_.notices.size(), GetParam().box ? 1u : 0u);
  EXPECT_EQ(env_.console, GetParam().box ? "" : "text\n");
  EXPECT_EQ(env_.pauses.size(), GetParam().box ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportSwitchTest,
                         testing::Values(SwitchCase{"one", "MsgBoxOnError=1\r\n", true},
                                         SwitchCase{"zero", "MsgBoxOnError=0\r\n", false},
                                         SwitchCase{"two", "MsgBoxOnError=2\r\n", false},
                                         SwitchCase{"missing", "", false},
                                         SwitchCase{"quoted_one", "MsgBoxOnError=\"1\"\r\n", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReportTest, BoxThatCannotBeShownFallsBackToTheConsole) {
  WriteSettings("MsgBoxOnError=1\r\n");
  env_.notice_can_show = false;
  dbrelay::ReportError("not lost\n", dbrelay::Mailing::kAllowed);
  EXPECT_EQ(env_.console, "not lost\n");
  EXPECT_EQ(env_.pauses, std::vector<int>{5000});
}

TEST_F(ReportTest, PauseVariable) {
  for (auto [value, expected] : std::vector<std::pair<std::string, int>>{
           {"0", 0}, {"250", 250}, {"", 5000}, {"-5", 5000}, {"12ms", 5000}, {"x", 5000}}) {
    env_.pause_variable = value;
    EXPECT_EQ(dbrelay::ReportPauseMilliseconds(), expected) << value;
  }
}

TEST_F(ReportTest, LogDetailPassesOnlyWhenDetailedLogIsNotZero) {
  for (auto [setting, shown] : std::vector<std::pair<std::string, bool>>{
           {"DetailedLog=1\r\n", true}, {"DetailedLog=2\r\n", true}, {"DetailedLog=-1\r\n", true},
           {"DetailedLog=0\r\n", false}, {"", false}, {"DetailedLog=x\r\n", false}}) {
    WriteSettings(setting);
    env_.console.clear();
    dbrelay::LogDetail("progress\n");
    EXPECT_EQ(env_.console, shown ? "progress\n" : "") << setting;
  }
}

// The real program, as a process.

TEST(ReportProcessTest, RealPauseIsFiveSeconds) {
  RelaySandbox relay;
  RunOptions options;
  options.env["DBRELAY_REPORT_PAUSE_MS"] = "";  // the built-in pause
  auto result = relay.Run({}, options);
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_GE(result.seconds, 5.0);
  EXPECT_LT(result.seconds, 9.0);
}

// Libraries the loader mapped into a run, from its own trace.
std::string LoaderTrace(const RelaySandbox& relay, RunOptions options,
                        const std::vector<std::string>& args) {
  std::string prefix = relay.File("ld-trace");
  options.env["LD_DEBUG"] = "libs";
  options.env["LD_DEBUG_OUTPUT"] = prefix;
  relay.Run(args, options);
  std::string trace;
  for (const auto& entry : std::filesystem::directory_iterator(relay.dir())) {
    if (entry.path().filename().string().rfind("ld-trace", 0) == 0) {
      trace += testing_support::ReadFileBytes(entry.path().string());
    }
  }
  return trace;
}

TEST(ReportProcessTest, RunWithoutABoxOrAMailMapsNeitherQtNorCurl) {
  RelaySandbox relay;
  relay.WriteIni({"MsgBoxOnError=0", "EmailOnError=0"});
  std::string trace = LoaderTrace(relay, {}, {});
  ASSERT_NE(trace.find("libc.so"), std::string::npos) << "no loader trace";
  EXPECT_EQ(trace.find("libQt6"), std::string::npos);
  EXPECT_EQ(trace.find("libcurl"), std::string::npos);
}

TEST(ReportProcessTest, MailLoadsTheMailModuleOnDemand) {
  RelaySandbox relay;
  relay.WriteIni({"EmailOnError=1", "EmailSMTP=127.0.0.1:1", "EmailTo=a@example.test"});
  std::string trace = LoaderTrace(relay, {}, {});
  EXPECT_NE(trace.find("libdbrelay_mail.so"), std::string::npos);
  EXPECT_NE(trace.find("libcurl"), std::string::npos);
}

TEST(ReportProcessTest, BoxWithoutADisplayTakesTheConsole) {
  RelaySandbox relay;
  relay.WriteIni({"MsgBoxOnError=1"});
  auto no_display = relay.Run({});
  EXPECT_EQ(no_display.out.rfind("Wrong number of arguments", 0), 0u);

  RunOptions unreachable;
  unreachable.env["DISPLAY"] = ":987";
  auto result = relay.Run({}, unreachable);
  EXPECT_EQ(result.out.rfind("Wrong number of arguments", 0), 0u);
  EXPECT_EQ(result.exit_status, 255);
}

TEST(ReportProcessTest, MessageBoxUnderARealDisplay) {
  testing_support::XvfbServer x;
  RelaySandbox relay;
  relay.WriteIni({"MsgBoxOnError=1"});
  RunOptions options;
  options.env["DISPLAY"] = x.display();
  options.timeout_seconds = 30;

  // Press OK on the box once it is there; the run must wait for that.
  std::thread dismiss([&] {
    std::string command = "DISPLAY=" + x.display() +
                          " timeout 20 xdotool search --sync --name '^DB Relay$' windowfocus "
                          "--sync key Return >/dev/null 2>&1";
    // xdotool may complain once the box has closed under it; the run's result is what counts.
    (void)!std::system(command.c_str());
  });
  auto result = relay.Run({}, options);
  dismiss.join();
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.out, "");  // nothing on the console
  EXPECT_EQ(result.exit_status, 255);
}

}  // namespace

// The size of the first box a run shows under display x (dismissed, with every box after it).
struct BoxSize {
  int width = 0;
  int height = 0;
};

BoxSize FirstBoxSize(const testing_support::XvfbServer& x, const RelaySandbox& relay,
                     const std::vector<std::string>& args) {
  RunOptions options;
  options.env["DISPLAY"] = x.display();
  options.timeout_seconds = 40;
  const std::string geometry = relay.File("geometry");
  std::remove(geometry.c_str());
  std::thread dismiss([&] {
    // Each box in turn: wait for it, measure the first, press OK, wait until it has gone.
    std::string script =
        "export DISPLAY=" + x.display() + "\n"
        "for i in 1 2; do\n"
        "  w=$(timeout 20 xdotool search --sync --onlyvisible --name '^DB Relay$' | head -1)\n"
        "  [ -n \"$w\" ] || exit 1\n"
        "  [ $i = 1 ] && xdotool getwindowgeometry --shell $w > '" + geometry + "'\n"
        "  xdotool windowfocus --sync $w key Return\n"
        "  for n in $(seq 200); do xdotool getwindowname $w >/dev/null 2>&1 || break; "
        "sleep 0.05; done\n"
        "done\n";
    (void)!std::system(("bash -c \"$(cat <<'SCRIPT'\n" + script + "SCRIPT\n)\" >/dev/null 2>&1")
                           .c_str());
  });
  auto result = relay.Run(args, options);
  dismiss.join();
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.out, "");
  BoxSize size;
  std::string text = testing_support::ReadFileBytes(geometry);
  for (auto [key, value] : {std::pair{"WIDTH=", &size.width}, {"HEIGHT=", &size.height}}) {
    size_t at = text.find(key);
    if (at != std::string::npos) *value = std::atoi(text.c_str() + at + std::strlen(key));
  }
  return size;
}

// The box shows a report as plain text: what a statement holds is not taken for markup, and every
// line break stays. Measured on real boxes: the detailed log of the command line comes first, so
// the first argument is the text under test (the three after it make the usage box follow).
TEST(ReportProcessTest, MessageBoxShowsPlainTextWithItsLineBreaks) {
  testing_support::XvfbServer x;
  RelaySandbox relay;
  relay.WriteIni({"MsgBoxOnError=1", "DetailedLog=1"});
  auto box = [&](const std::string& first) { return FirstBoxSize(x, relay, {first, "x", "y", "z"}); };

  BoxSize one_line = box("a");
  BoxSize six_lines = box("<b>a</b>\nb\nc\nd\ne\nf");
  ASSERT_GT(one_line.height, 0) << "no box measured";
  EXPECT_GE(six_lines.height, one_line.height + 50) << "line breaks collapsed";

  // As rich text, "&lt;" would shrink to "<" and "<b>" vanish: both boxes would be the same size.
  // (A line too wide for the screen is wrapped, so the area is compared.)
  BoxSize rendered = box("<<<<<<<<");
  BoxSize literal = box("<b>&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;</b>");
  ASSERT_GT(rendered.width, 0) << "no box measured";
  EXPECT_GE(literal.width * literal.height, rendered.width * rendered.height * 13 / 10)
      << "markup interpreted: " << literal.width << "x" << literal.height << " against "
      << rendered.width << "x" << rendered.height;
}
