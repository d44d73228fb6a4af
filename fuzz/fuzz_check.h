// What every fuzz target shares: a property check that stops the run as a
// crash (so libFuzzer keeps the input), and the input as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// A property that must hold for every input; a failure aborts, and libFuzzer
// saves the input that broke it.
#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

// A place no input may reach.
#define FUZZ_FAIL(message)                                                             \
  do {                                                                                 \
    std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, message); \
    std::abort();                                                                      \
  } while (false)

namespace quillon::fuzz {

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input cut into parts at NUL bytes (the corpus files separate the parts
// of a structured input that way), always at least `count` parts.
inline std::vector<std::string> Parts(std::string_view text, std::size_t count) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (parts.size() + 1 < count) {
    const std::size_t end = text.find('\0', start);
    if (end == std::string_view::npos) break;
    parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  parts.emplace_back(text.substr(start));
  while (parts.size() < count) parts.emplace_back();
  return parts;
}

}  // namespace quillon::fuzz
