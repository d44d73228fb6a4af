#include "checker/checker.h"
#include "shared/program_main.h"

int main(int argc, char** argv) {
  return quillon::RunProgram("Zentrel", argc, argv, quillon::RunChecker);
}
