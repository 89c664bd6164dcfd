// One process that does one durable append and ends: the cost a DbRelay run pays for the text-file
// fall-back, without the database attempts before it.
//   append_once <path> <statement>

#include <cstdio>

#include "relay/output/text_file.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: append_once <path> <statement>\n");
    return 2;
  }
  return dbrelay::AppendStatementToTextFile(argv[1], argv[2]);
}
