// ini_write_tool PATH SECTION KEY VALUE: one save through the settings writer both programs use,
// for tests that must save as another user. Exits with the writer's errno (0 on success).
#include <cstdio>

#include "settings/ini_file.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: ini_write_tool PATH SECTION KEY VALUE\n", stderr);
    return 64;
  }
  return settings::IniFile(argv[1]).WriteString(argv[2], argv[3], argv[4]);
}
