// The tessel program.
#include "client/ui/program_main.h"

int main(int argc, char** argv) { return program_main(argc, argv, nullptr); }
