#include "tests/support/test_ca.h"

#include <stdexcept>

#include "tests/support/relay_sandbox.h"

namespace testing_support {

namespace {

// EC keys: made in milliseconds, where RSA keys would hold every test start.
const std::vector<std::string> kNewKey = {"-newkey", "ec", "-pkeyopt",
                                          "ec_paramgen_curve:prime256v1", "-nodes"};

// Runs openssl with args, its chatter kept in log.
void Openssl(std::vector<std::string> args, const std::string& log) {
  args.insert(args.begin(), {"/bin/sh", "-c", "exec /usr/bin/openssl \"$@\" 2>>\"$0\"", log});
  RunOptions options;
  options.env = {{"OPENSSL_CONF", "/dev/null"}};
  ProcessResult result = RunProcess(args, options);
  if (result.exit_status != 0) {
    throw std::runtime_error("openssl " + args[4] + " failed: " + ReadFileBytes(log));
  }
}

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void MakeCa(const std::string& stem, const std::string& name) {
  Openssl(With(With({"req", "-x509"}, kNewKey),
               {"-keyout", stem + ".key", "-out", stem + ".crt", "-days", "2", "-subj",
                "/CN=" + name, "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                "keyUsage=critical,keyCertSign,cRLSign"}),
          stem + ".log");
}

bool IsAddress(const std::string& name) {
  return name.find(':') != std::string::npos ||
         name.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

TestCertificateAuthority::TestCertificateAuthority(const std::string& folder)
    : folder_(folder), ca_file_(folder + "/ca.crt") {
  MakeCa(folder_ + "/ca", "DbRelay test CA");
}

std::string TestCertificateAuthority::IssueServerCertificate(const std::string& file_stem,
                                                             const std::vector<std::string>& names,
                                                             bool untrusted) const {
  std::string ca = folder_ + "/ca";
  if (untrusted) {
    ca = folder_ + "/" + file_stem + "-ca";
    MakeCa(ca, "Untrusted test CA");
  }
  std::string stem = folder_ + "/" + file_stem;
  std::string alt;
  for (const std::string& name : names) {
    if (!alt.empty()) alt += ',';
    alt += IsAddress(name) ? "IP:" : "DNS:";
    alt += name;
  }
  WriteFileBytes(stem + ".ext", "subjectAltName=" + alt +
                                    "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
  Openssl(With({"req"}, With(kNewKey, {"-keyout", stem + ".key", "-out", stem + ".csr", "-subj",
                                       "/CN=" + names.front()})),
          stem + ".log");
  Openssl({"x509", "-req", "-in", stem + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
           "-CAcreateserial", "-out", stem + ".crt", "-days", "2", "-extfile", stem + ".ext"},
          stem + ".log");
  std::string pem = stem + ".pem";
  WriteFileBytes(pem, ReadFileBytes(stem + ".key") + ReadFileBytes(stem + ".crt"));
  return pem;
}

}  // namespace testing_support
