#pragma once
// Throwaway certificates for a test run, made with the openssl program in a folder of the test's:
// a CA of the run and server certificates it signs, plus a second CA that nothing trusts. Only a
// program the test points at ca_file() trusts them; the machine's own store is never touched.

#include <string>
#include <vector>

namespace testing_support {

class TestCertificateAuthority {
 public:
  // Makes the CA in folder (which must exist). Throws std::runtime_error when openssl fails.
  explicit TestCertificateAuthority(const std::string& folder);

  // The CA certificate (PEM) a client is told to trust.
  const std::string& ca_file() const { return ca_file_; }

  // Issues a server certificate for names ("localhost", "127.0.0.1", "::1": addresses become IP
  // entries) and returns a PEM file holding its private key followed by the certificate, the form
  // Postfix's smtpd_tls_chain_files takes. untrusted: signed by a CA of its own instead.
  std::string IssueServerCertificate(const std::string& file_stem,
                                     const std::vector<std::string>& names,
                                     bool untrusted = false) const;

 private:
  std::string folder_;
  std::string ca_file_;
};

}  // namespace testing_support
