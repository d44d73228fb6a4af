// Dusmere.exe: shows the user their own access and requests access to a
// program; started from the Start Menu, reads no command line.
#include "request/request_tool.h"
#include "shared/program_main.h"

int main(int argc, char** argv) {
  return quillon::RunProgram("Dusmere", argc, argv, quillon::RunRequestTool);
}
