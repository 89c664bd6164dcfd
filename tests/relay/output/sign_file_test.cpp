#include "relay/output/sign_file.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>

#include "tests/relay/output/output_test_env.h"
#include "tests/support/relay_sandbox.h"

namespace {

using output_test::HelperPath;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

// Sets an environment variable for the lifetime of the object (the signer inherits it).
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class SignFileTest : public output_test::SettingsFixtureBase, public testing::Test {
 protected:
  std::string record_ = dir_.File("signer-record");
  ScopedVariable record_variable_{"DBRELAY_FAKE_SIGNER_OUT", record_};

  void UseSigner(const std::string& path) { WriteSettings("PdfSignerPath=" + path + "\r\n"); }
  std::string WriteScript(const std::string& name, const std::string& body) {
    std::string path = dir_.File(name);
    WriteFileBytes(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
  }
};

TEST_F(SignFileTest, SignerGetsExactlyPathAndFileWithNoConsole) {
  UseSigner(HelperPath());
  const std::string file = "/in/my \"signed\" 'doc' \xff\xfe.pdf";
  EXPECT_EQ(dbrelay::SignFile(file), 0);
  EXPECT_EQ(ReadFileBytes(record_),
            HelperPath() + '\0' + file + '\0' + "stdin=null\nstdout=null\n");
}

TEST_F(SignFileTest, DefaultSignerIsFoundOnPath) {
  std::filesystem::create_directory(dir_.File("tools"));
  std::filesystem::copy_file(HelperPath(), dir_.File("tools/DocSealer.exe"));
  ScopedVariable path("PATH",
                      dir_.File("tools") + ":" + (::getenv("PATH") ? ::getenv("PATH") : ""));
  WriteSettings("");  // key missing: the default applies
  EXPECT_EQ(dbrelay::SignFile("/in/a.pdf"), 0);
  EXPECT_EQ(ReadFileBytes(record_),
            std::string("DocSealer.exe") + '\0' + "/in/a.pdf" + '\0' + "stdin=null\nstdout=null\n");
}

class SignerExitTest : public SignFileTest, public testing::WithParamInterface<int> {};

TEST_P(SignerExitTest, ExitCodeIsTheResult) {
  UseSigner(HelperPath());
  ScopedVariable exit_code("DBRELAY_FAKE_SIGNER_EXIT", std::to_string(GetParam()));
  EXPECT_EQ(dbrelay::SignFile("/in/a.pdf"), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Codes, SignerExitTest, testing::Values(0, 1, 2, 42, 255));

TEST_F(SignFileTest, SignerEndedBySignalGives128PlusTheSignal) {
  UseSigner(WriteScript("crashing", "kill -SEGV $$\n"));
  EXPECT_EQ(dbrelay::SignFile("/in/a.pdf"), 128 + SIGSEGV);
}

TEST_F(SignFileTest, WaitsForAHangingSignerWithoutTimeOut) {
  const std::string pid_file = dir_.File("signer.pid");
  UseSigner(WriteScript("hanging", "echo $$ > '" + pid_file + "'\nexec sleep 600\n"));
  std::atomic<int> result{-100};
  std::thread sign([&] { result = dbrelay::SignFile("/in/a.pdf"); });
  while (ReadFileBytes(pid_file).empty())
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(result.load(), -100) << "stopped waiting for a signer that still runs";
  ::kill(std::stoi(ReadFileBytes(pid_file)), SIGKILL);
  sign.join();
  EXPECT_EQ(result.load(), 128 + SIGKILL);
}

struct UnstartableCase {
  const char* name;
  std::string signer;  // "$" stands for the test's folder
};

void PrintTo(const UnstartableCase& c, std::ostream* os) { *os << c.name; }

class UnstartableSignerTest : public SignFileTest,
                              public testing::WithParamInterface<UnstartableCase> {};

TEST_P(UnstartableSignerTest, GivesNonZero127) {
  WriteFileBytes(dir_.File("not-executable"), "#!/bin/sh\nexit 0\n");
  ::chmod(dir_.File("not-executable").c_str(), 0644);
  std::filesystem::create_directory(dir_.File("folder"));
  std::string signer = GetParam().signer;
  if (signer.rfind("$", 0) == 0) signer = dir_.path() + signer.substr(1);
  UseSigner(signer);
  EXPECT_EQ(dbrelay::SignFile("/in/a.pdf"), dbrelay::kSignerNotStarted);
  EXPECT_FALSE(FileExists(record_));
}

INSTANTIATE_TEST_SUITE_P(Signers, UnstartableSignerTest,
                         testing::Values(UnstartableCase{"missing", "$/no-such-signer"},
                                         UnstartableCase{"missing_on_path", "no-such-signer-7f3a"},
                                         UnstartableCase{"empty", ""},
                                         UnstartableCase{"not_executable", "$/not-executable"},
                                         UnstartableCase{"folder", "$/folder"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The real program, started from a working folder of the caller's: a bare or relative signer is
// looked for in DbRelay's own folder first, then on PATH, and never in the caller's folder; an
// absolute one is used as it stands.
struct LookupCase {
  const char* name;
  std::optional<std::string> configured;  // PdfSignerPath; the key is missing when unset
  std::string signer_at;  // where the stand-in signer is put: "relay/…", "path/…", "caller/…",
                          // "other/…" (relative to the folders of those names)
  std::string failing_at;  // a signer of the same name that fails with 9, or empty
  int exit_status;
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

class SignerLookupTest : public testing::TestWithParam<LookupCase> {
 protected:
  // The folder a case's "relay/", "path/", "caller/" or "other/" stands for.
  std::string Resolve(const std::string& where) const {
    size_t slash = where.find('/');
    std::string root = where.substr(0, slash);
    std::string folder = root == "relay"    ? relay_.dir()
                         : root == "path"   ? path_.path()
                         : root == "caller" ? caller_.path()
                                            : other_.path();
    return folder + where.substr(slash);
  }
  void Put(const std::string& where, bool failing) const {
    std::string target = Resolve(where);
    std::filesystem::create_directories(std::filesystem::path(target).parent_path());
    if (failing) {
      WriteFileBytes(target, "#!/bin/sh\nexit 9\n");
      ::chmod(target.c_str(), 0755);
    } else {
      std::filesystem::copy_file(HelperPath(), target);
    }
  }

  testing_support::RelaySandbox relay_;
  testing_support::TempDir path_;    // a folder on PATH
  testing_support::TempDir caller_;  // the caller's working folder
  testing_support::TempDir other_;
};

TEST_P(SignerLookupTest, FindsTheSignerBesideDbRelayThenOnPath) {
  const LookupCase& c = GetParam();
  Put(c.signer_at, false);
  if (!c.failing_at.empty()) Put(c.failing_at, true);
  std::vector<std::string> lines = {
      "DigitallySign=1", "PriDBType=2",
      "PriOtherConnStr=Driver=SQLite3;Database=" + relay_.File("absent/none.db") + ";NoCreat=1",
      "SecDBType=3", "SecLocalTextFile=" + relay_.File("pending.sql")};
  std::string value = c.configured.value_or("DocSealer.exe");
  if (value.rfind("other/", 0) == 0) value = Resolve(value);
  if (c.configured) lines.push_back("PdfSignerPath=" + value);
  relay_.WriteIni(lines);
  const std::string record = other_.File("signer-record");
  testing_support::RunOptions options;
  options.env["DBRELAY_FAKE_SIGNER_OUT"] = record;
  options.env["PATH"] = path_.path() + ":" + (::getenv("PATH") ? ::getenv("PATH") : "/usr/bin:/bin");
  options.working_folder = caller_.path();
  auto result = relay_.Run({"UPDATE Docs SET Signed=1 WHERE Id=7", "/in/7.pdf"}, options);
  EXPECT_EQ(result.exit_status, c.exit_status) << result.out;
  EXPECT_EQ(FileExists(record), c.exit_status == 0);
  EXPECT_EQ(FileExists(relay_.File("pending.sql")), c.exit_status == 0);
  if (c.exit_status == 0) {
    // The signer's first argument is the setting as it stands, whichever file was started.
    EXPECT_EQ(ReadFileBytes(record).rfind(value + '\0' + "/in/7.pdf" + '\0', 0), 0u);
  } else {
    EXPECT_EQ(result.out.rfind("Unable to sign file: /in/7.pdf\n\nError returned = 127\n", 0), 0u)
        << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignerLookupTest,
    testing::Values(
        LookupCase{"default_beside", std::nullopt, "relay/DocSealer.exe", "", 0},
        LookupCase{"bare_beside", "sealer", "relay/sealer", "", 0},
        LookupCase{"relative_beside", "tools/sealer", "relay/tools/sealer", "", 0},
        LookupCase{"beside_before_path", "sealer", "relay/sealer", "path/sealer", 0},
        LookupCase{"on_path", "sealer", "path/sealer", "", 0},
        LookupCase{"relative_on_path", "tools/sealer", "path/tools/sealer", "", 0},
        LookupCase{"never_the_callers_folder", "sealer", "caller/sealer", "", 255},
        LookupCase{"relative_never_the_callers_folder", "./sealer", "caller/sealer", "", 255},
        LookupCase{"absolute_as_it_stands", "other/sealer", "other/sealer", "relay/sealer", 0},
        LookupCase{"absolute_not_looked_up", "other/missing", "relay/missing", "", 255}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
