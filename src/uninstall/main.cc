// Uninstall.exe: removes the product; reads no command line.
#include "shared/program_main.h"
#include "uninstall/uninstaller.h"

int main(int argc, char** argv) {
  return quillon::RunProgram("Uninstall", argc, argv, quillon::RunUninstall);
}
