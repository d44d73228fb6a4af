// ZentrelAdmin.exe: the administrators' command line (see admin_cli.h).
#include "admin/admin_cli.h"
#include "shared/program_main.h"

int main(int argc, char** argv) {
  return quillon::RunConsoleProgram("ZentrelAdmin", argc, argv, quillon::admin::RunAdminCommand);
}
