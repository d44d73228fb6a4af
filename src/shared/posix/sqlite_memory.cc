#include "shared/posix/sqlite_memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace quillon {
namespace {

// Each block carries one word before its first byte: the usable size, with
// the low bit set for a block of malloc's. A small block's word and bytes
// together fill a multiple of kGrain; a block of malloc's starts
// kLargeOffset bytes into the memory malloc gave.
using Word = std::uint64_t;
constexpr std::size_t kGrain = 16;
constexpr std::size_t kClasses = (kLargestSmallBlock + sizeof(Word)) / kGrain;
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kLargeOffset = 16;
constexpr Word kLargeMark = 1;

static_assert((kLargestSmallBlock + sizeof(Word)) % kGrain == 0);

// The size class of a request of 1 to kLargestSmallBlock bytes.
std::size_t ClassOf(std::size_t bytes) {
  return (bytes + sizeof(Word) + kGrain - 1) / kGrain - 1;
}

std::size_t UsableSizeOf(std::size_t size_class) {
  return (size_class + 1) * kGrain - sizeof(Word);
}

Word& WordOf(void* block) {
  return *(static_cast<Word*>(block) - 1);
}

// Every chunk ever cut, linked through its first word, so that the memory
// stays reachable (for leak checkers too) after the thread that cut it has
// ended.
std::mutex chunks_mutex;
void* chunks = nullptr;

// A thread's free lists (each free block holds the next one in its first
// bytes) and the rest of the chunk it cuts new blocks from.
struct Pool {
  void* free[kClasses] = {};
  char* next = nullptr;
  char* end = nullptr;
};
thread_local Pool pool;

void* NewChunk() {
  void* chunk = std::malloc(kChunkBytes);
  if (chunk == nullptr) return nullptr;
  const std::lock_guard<std::mutex> lock(chunks_mutex);
  *static_cast<void**>(chunk) = chunks;
  chunks = chunk;
  return chunk;
}

void* SmallBlock(std::size_t size_class) {
  if (void* block = pool.free[size_class]) {
    pool.free[size_class] = *static_cast<void**>(block);
    return block;
  }
  const std::size_t bytes = (size_class + 1) * kGrain;
  if (pool.next == nullptr || static_cast<std::size_t>(pool.end - pool.next) < bytes) {
    // The rest of the old chunk is left unused: at most one block's worth.
    char* chunk = static_cast<char*>(NewChunk());
    if (chunk == nullptr) return nullptr;
    pool.next = chunk + kGrain;  // after the link to the other chunks
    pool.end = chunk + kChunkBytes;
  }
  char* block = pool.next + sizeof(Word);
  pool.next += bytes;
  WordOf(block) = UsableSizeOf(size_class);
  return block;
}

void* LargeBlock(std::size_t bytes) {
  const std::size_t usable = (bytes + 7) & ~std::size_t{7};
  char* memory = static_cast<char*>(std::malloc(usable + kLargeOffset));
  if (memory == nullptr) return nullptr;
  char* block = memory + kLargeOffset;
  WordOf(block) = usable | kLargeMark;
  return block;
}

void* Allocate(int bytes) {
  if (bytes <= 0) return nullptr;
  const auto size = static_cast<std::size_t>(bytes);
  return size <= kLargestSmallBlock ? SmallBlock(ClassOf(size)) : LargeBlock(size);
}

void Release(void* block) {
  if (block == nullptr) return;
  const Word word = WordOf(block);
  if (word & kLargeMark) {
    std::free(static_cast<char*>(block) - kLargeOffset);
    return;
  }
  const std::size_t size_class = ClassOf(static_cast<std::size_t>(word));
  *static_cast<void**>(block) = pool.free[size_class];
  pool.free[size_class] = block;
}

int UsableSize(void* block) {
  return block == nullptr ? 0 : static_cast<int>(WordOf(block) & ~kLargeMark);
}

void* Reallocate(void* block, int bytes) {
  if (block == nullptr) return Allocate(bytes);
  if (bytes <= 0) {
    Release(block);
    return nullptr;
  }
  const int usable = UsableSize(block);
  if (bytes <= usable) return block;
  void* larger = Allocate(bytes);
  if (larger == nullptr) return nullptr;  // the old block stays as it was
  std::memcpy(larger, block, static_cast<std::size_t>(usable));
  Release(block);
  return larger;
}

int Roundup(int bytes) {
  if (bytes <= 0) return bytes;
  const auto size = static_cast<std::size_t>(bytes);
  return static_cast<int>(size <= kLargestSmallBlock ? UsableSizeOf(ClassOf(size))
                                                     : (size + 7) & ~std::size_t{7});
}

int Init(void*) {
  return SQLITE_OK;
}

void Shutdown(void*) {}

const sqlite3_mem_methods kMethods = {&Allocate, &Release, &Reallocate, &UsableSize,
                                      &Roundup,  &Init,    &Shutdown,   nullptr};

}  // namespace

const sqlite3_mem_methods& SqliteMemory() {
  return kMethods;
}

}  // namespace quillon
