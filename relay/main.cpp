#include "relay/run/run_modes.h"

// The exit status keeps the low 8 bits of the code: -1 leaves the process as 255.
int main(int argc, char** argv) { return dbrelay::RelayMain(argc, argv); }
