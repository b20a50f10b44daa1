// The process entry point on posix systems: arguments arrive as the bytes
// the shell gave (UTF-8 in a UTF-8 locale) and go straight to the program.
#include "cli/app/Program.h"

int main(int argc, char** argv) { return cli::RunProgram(argc, argv); }
