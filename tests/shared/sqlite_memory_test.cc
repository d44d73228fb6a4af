// The allocator SQLite runs on: sizes, alignment, reuse, growth, blocks
// freed by another thread, and SQLite itself working through it.
#include "shared/posix/sqlite_memory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace quillon {
namespace {

const sqlite3_mem_methods& memory = SqliteMemory();

// Sizes around every edge: the smallest, the grain, the last small class and
// the first of malloc's.
const std::vector<int> kSizes = {1,   7,   8,    9,    15,   16,   17,   24,   100,   504,
                                 505, 512, 1000, 1008, 1009, 1016, 1017, 4096, 100000};

void Fill(void* block, int bytes, unsigned char seed) {
  auto* byte = static_cast<unsigned char*>(block);
  for (int i = 0; i < bytes; ++i) byte[i] = static_cast<unsigned char>(seed + i * 7);
}

bool Holds(const void* block, int bytes, unsigned char seed) {
  const auto* byte = static_cast<const unsigned char*>(block);
  for (int i = 0; i < bytes; ++i) {
    if (byte[i] != static_cast<unsigned char>(seed + i * 7)) return false;
  }
  return true;
}

// Every block of a size is aligned, as large as its size says and as
// xRoundup promised, and no two blocks live at once share a byte: each is
// filled to its full size, then all are checked.
TEST(SqliteMemoryTest, BlocksOfEverySizeAreAlignedLargeEnoughAndApart) {
  for (int round = 0; round < 2; ++round) {  // the second round reuses freed blocks
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < kSizes.size(); ++i) {
      for (int copy = 0; copy < 3; ++copy) {
        const int bytes = kSizes[i];
        void* block = memory.xMalloc(bytes);
        ASSERT_NE(block, nullptr) << bytes;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u) << bytes;
        EXPECT_GE(memory.xSize(block), bytes);
        EXPECT_EQ(memory.xSize(block), memory.xRoundup(bytes)) << bytes;
        blocks.push_back(block);
      }
    }
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      Fill(blocks[b], memory.xSize(blocks[b]), static_cast<unsigned char>(b));
    }
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      EXPECT_TRUE(Holds(blocks[b], memory.xSize(blocks[b]), static_cast<unsigned char>(b)))
          << "block " << b << " overwritten";
    }
    for (void* block : blocks) memory.xFree(block);
  }
}

// A block grown keeps its bytes, from one small class to another, from the
// free lists to malloc's and within malloc's; one shrunk stays where it is.
TEST(SqliteMemoryTest, ReallocationKeepsTheBytes) {
  const std::vector<std::pair<int, int>> steps = {{10, 20},      {20, 1016},  {1000, 1017},
                                                  {1017, 50000}, {5000, 100}, {100, 8}};
  for (const auto& [from, to] : steps) {
    void* block = memory.xMalloc(from);
    Fill(block, from, 3);
    void* moved = memory.xRealloc(block, to);
    ASSERT_NE(moved, nullptr);
    EXPECT_GE(memory.xSize(moved), to);
    EXPECT_TRUE(Holds(moved, std::min(from, to), 3)) << from << " -> " << to;
    if (to <= from) {
      EXPECT_EQ(moved, block) << from << " -> " << to;
    }
    memory.xFree(moved);
  }
}

// A thread's blocks freed by another, and taken again there.
TEST(SqliteMemoryTest, BlocksFreedOnAnotherThreadAreReused) {
  std::vector<void*> blocks;
  std::thread([&] {
    for (int i = 0; i < 2000; ++i) blocks.push_back(memory.xMalloc(1 + i % 1200));
  }).join();
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    Fill(blocks[i], memory.xSize(blocks[i]), static_cast<unsigned char>(i));
  }
  for (void* block : blocks) memory.xFree(block);
  std::vector<void*> again;
  for (int i = 0; i < 2000; ++i) again.push_back(memory.xMalloc(1 + i % 1200));
  for (std::size_t i = 0; i < again.size(); ++i) {
    Fill(again[i], memory.xSize(again[i]), static_cast<unsigned char>(i + 1));
  }
  for (std::size_t i = 0; i < again.size(); ++i) {
    EXPECT_TRUE(Holds(again[i], memory.xSize(again[i]), static_cast<unsigned char>(i + 1)));
  }
  for (void* block : again) memory.xFree(block);
}

// SQLite itself on the allocator: tables, an index, texts of every length up
// to a page or so, a sort and an update that grows rows, all read back right.
TEST(SqliteMemoryTest, SqliteRunsOnIt) {
  ASSERT_EQ(sqlite3_shutdown(), SQLITE_OK);
  sqlite3_mem_methods previous{};
  ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_GETMALLOC, &previous), SQLITE_OK);
  ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_MALLOC, &memory), SQLITE_OK);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  auto run = [&](const std::string& sql) {
    char* message = nullptr;
    const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    EXPECT_EQ(result, SQLITE_OK) << sql << ": " << (message ? message : "");
    sqlite3_free(message);
  };
  auto number = [&](const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    long long value = -1;
    if (sqlite3_step(statement) == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return value;
  };
  run("CREATE TABLE T (id INTEGER PRIMARY KEY, name TEXT COLLATE NOCASE)");
  run("CREATE INDEX T_name ON T (name)");
  run("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999) "
      "INSERT INTO T (name) SELECT printf('%.*c%d', 1 + i * 7 % 3000, 'x', i) FROM n");
  run("UPDATE T SET name = name || name WHERE id % 3 = 0");

  long long expected_length = 0;
  for (int i = 0; i < 1000; ++i) {
    const long long length = 1 + i * 7 % 3000 + static_cast<long long>(std::to_string(i).size());
    expected_length += (i + 1) % 3 == 0 ? 2 * length : length;
  }
  EXPECT_EQ(number("SELECT COUNT(*) FROM T"), 1000);
  EXPECT_EQ(number("SELECT SUM(LENGTH(name)) FROM T"), expected_length);
  EXPECT_EQ(number("SELECT COUNT(*) FROM (SELECT name FROM T ORDER BY name DESC)"), 1000);
  EXPECT_EQ(number("SELECT id FROM T WHERE name = 'XXXXXXXX1'"), 2);
  EXPECT_EQ(sqlite3_close(db), SQLITE_OK);

  ASSERT_EQ(sqlite3_shutdown(), SQLITE_OK);
  EXPECT_EQ(sqlite3_config(SQLITE_CONFIG_MALLOC, &previous), SQLITE_OK);
}

}  // namespace
}  // namespace quillon
