// Parks one statement the way DbRelay does, for statements a command line cannot carry (an
// argument is at most 128 KiB on Linux):
//
//   replay_park_helper <text file>     appends stdin, whole, as one record; prints the result
//
// It calls the relay's own append, so the record and its boundaries line are DbRelay's.

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "relay/output/text_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: replay_park_helper <text file> < statement\n");
    return 2;
  }
  std::string statement((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  const int result = dbrelay::AppendStatementToTextFile(argv[1], statement);
  std::printf("%d\n", result);
  return result == 0 ? 0 : 1;
}
