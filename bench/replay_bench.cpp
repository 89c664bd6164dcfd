// Parks statements the way DbRelay does, for bench/replay_bench.sh: each line of stdin is one
// statement, appended durably to the text file with its boundaries line.
//   replay_bench_park <text file> < statements

#include <cstdio>
#include <iostream>
#include <string>

#include "relay/output/text_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: replay_bench_park <text file> < statements\n");
    return 2;
  }
  std::string statement;
  long parked = 0;
  while (std::getline(std::cin, statement)) {
    if (int error = dbrelay::AppendStatementToTextFile(argv[1], statement); error != 0) {
      std::fprintf(stderr, "replay_bench_park: append %ld failed: errno %d\n", parked + 1, error);
      return 1;
    }
    ++parked;
  }
  std::printf("%ld\n", parked);
  return 0;
}
