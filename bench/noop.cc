// The yardstick of the checker benchmark: a static program that does
// nothing. With an argument it waits until it is killed instead, standing
// for a launched program that a denial terminates.
#include <unistd.h>

int main(int argc, char**) {
  if (argc > 1) {
    for (;;) pause();
  }
  return 0;
}
