#include "tests/support/odbc_config.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "tests/support/relay_sandbox.h"

namespace testing_support {

const OdbcConfig& OdbcConfig::Get() {
  static OdbcConfig config;
  return config;
}

OdbcConfig::OdbcConfig() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dbrelay-odbc-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  std::string ini;
  auto driver = [&ini](const char* name, const char* path) {
    ini += std::string("[") + name + "]\nDescription=" + name + "\nDriver=" + path + "\n\n";
  };
  driver("SQLOLEDB", kPsqlOdbcDriver);
  driver("PostgreSQL Unicode", kPsqlOdbcDriver);
  driver("SQLite3", kSqliteOdbcDriver);
  driver("FreeTDS", kFreeTdsOdbcDriver);
  WriteFileBytes(dir_ + "/odbcinst.ini", ini);
  WriteFileBytes(dir_ + "/odbc.ini", "");
}

OdbcConfig::~OdbcConfig() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void OdbcConfig::ApplyToThisProcess() const { ::setenv("ODBCSYSINI", dir_.c_str(), 1); }

}  // namespace testing_support
