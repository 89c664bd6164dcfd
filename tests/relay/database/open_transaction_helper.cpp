// Started as a process by the transaction tests, to be killed while it holds a transaction:
//
//   open_transaction_helper <connection string> <statement>
//
// Opens the connection, begins a transaction, runs statement in it, prints "ready" and waits to
// be killed. Any failure prints the last error text and exits 1.

#include <chrono>
#include <iostream>
#include <thread>

#include "relay/database/ado_database.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: open_transaction_helper <connection string> <statement>\n";
    return 2;
  }
  dbrelay::CADODatabase db;
  db.SetConnectionString(argv[1]);
  if (db.Open() == 0 || db.BeginTransaction() == 0 || db.Execute(argv[2]) == 0) {
    std::cout << db.GetLastErrorText() << std::flush;
    return 1;
  }
  std::cout << "ready" << std::endl;
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
