#include "replay/replay_main.h"

int main(int argc, char** argv) { return dbrelay::replay::ReplayMain(argc, argv); }
