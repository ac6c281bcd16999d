#include "tools/cli/cli.h"

int main(int argc, char** argv) { return ostrakan::cli::run(argc, argv); }
