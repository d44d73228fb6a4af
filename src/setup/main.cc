// Setup.exe: installs the product from its media; reads no command line.
#include "setup/setup.h"
#include "shared/program_main.h"

int main(int argc, char** argv) {
  return quillon::RunProgram("Setup", argc, argv, quillon::RunSetup);
}
