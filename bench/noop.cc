// The yardstick of the checker benchmark: a static program that does
// nothing. With an argument it waits until it is killed instead, standing
// for a launched program that a denial terminates; the Windows build then
// writes its process id, and a line end, to the file its second argument
// names, for the checker to be given.
#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  if (argc > 1) {
#ifdef _WIN32
    if (argc > 2) {
      if (std::FILE* file = std::fopen(argv[2], "w")) {
        std::fprintf(file, "%lu\n", GetCurrentProcessId());
        std::fclose(file);
      }
    }
    for (;;) Sleep(INFINITE);
#else
    static_cast<void>(argv);
    for (;;) pause();
#endif
  }
  return 0;
}
