// One Open + Execute + Close through CADODatabase, as one DbRelay run does it; timed as a whole
// process by db_roundtrip.sh next to isql on the same connection string.

#include <cstdio>

#include "relay/database/ado_database.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: db_roundtrip CONNECTION_STRING STATEMENT\n");
    return 2;
  }
  dbrelay::CADODatabase db;
  db.SetConnectionString(argv[1]);
  if (db.Open() == 0 || db.Execute(argv[2]) == 0) {
    std::fputs(db.GetLastErrorText().c_str(), stderr);
    return 1;
  }
  db.Close();
  return 0;
}
