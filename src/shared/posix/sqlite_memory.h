// The memory SQLite works with on the portable host. The system's SQLite
// library is built without its own cache of small blocks (lookaside), so
// every one of the many small, short-lived blocks that reading the schema
// and preparing a statement take would be one malloc and one free. Here
// blocks of up to kLargestSmallBlock bytes come from free lists, one list per
// size class and thread, cut from chunks that stay with the process; larger
// blocks come from malloc.
#pragma once

#include <sqlite3.h>

#include <cstddef>

namespace quillon {

// The largest request served from the free lists.
inline constexpr std::size_t kLargestSmallBlock = 1016;

// The allocator to give SQLite (sqlite3_config(SQLITE_CONFIG_MALLOC, ...)).
// Every block is 8-byte aligned; its size (xSize) is at least the size asked
// for and is what xRoundup gives for that request.
const sqlite3_mem_methods& SqliteMemory();

}  // namespace quillon
