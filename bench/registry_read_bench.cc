// How long reading the portable machine's registry takes as the number of
// keys grows: for each key count given on the command line, writes a
// registry.reg with that many keys (two values each, the looked-up key last)
// into a scratch folder, then times loading it and finding one value, the way
// a program's registry read does. Prints one line per key count: the time
// that passed and the processor time the read used (on a busy machine the
// first grows with the load, the second does not).
//
//   registry_read_bench 1000 10000 100000
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "shared/posix/registry_file.h"

namespace {

std::string RegistryText(long keys) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (long k = 0; k < keys; ++k) {
    const std::string number = std::to_string(k);
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Vendor" + std::to_string(k % 97) + "\\Key" +
            number + "]\r\n";
    text += "\"Name\"=\"Value " + number + "\"\r\n";
    text += "\"Start\"=dword:00000002\r\n\r\n";
  }
  return text;
}

double ProcessorSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: registry_read_bench KEYS...\n");
    return 2;
  }
  char folder[] = "/tmp/registry-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string path = std::string(folder) + "/registry.reg";
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const long keys = std::strtol(argv[i], nullptr, 10);
    if (keys <= 0) {
      std::fprintf(stderr, "not a key count: %s\n", argv[i]);
      status = 2;
      break;
    }
    std::ofstream(path, std::ios::binary) << RegistryText(keys);
    const std::string last_key = "hkey_local_machine\\software\\bench\\vendor" +
                                 std::to_string((keys - 1) % 97) + "\\key" +
                                 std::to_string(keys - 1);
    const double processor_start = ProcessorSeconds();
    const auto start = std::chrono::steady_clock::now();
    const quillon::RegistryContent content = quillon::RegistryFile(path).Load();
    const quillon::RegistryValue* value = content.FindValue(last_key, "name");
    const auto end = std::chrono::steady_clock::now();
    const double processor_seconds = ProcessorSeconds() - processor_start;
    if (value == nullptr || value->data != "Value " + std::to_string(keys - 1)) {
      std::fprintf(stderr, "%ld keys: the last key's value was not found\n", keys);
      status = 1;
      break;
    }
    const double seconds = std::chrono::duration<double>(end - start).count();
    std::printf("%7ld keys: read in %.3f s (processor time %.3f s)\n", keys, seconds,
                processor_seconds);
    std::fflush(stdout);
  }
  unlink(path.c_str());
  rmdir(folder);
  return status;
}
