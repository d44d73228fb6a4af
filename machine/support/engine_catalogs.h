// What the machine's database engine (sqlservr.exe) does with the catalogs
// in the databases folder: it holds a connection to each, so that a program
// that opens a catalog is never its first connection (which would rebuild
// the log's index) nor its last (which would fold the log into the
// database, syncing the disk, as it closes); and it folds the logs itself.
//
// Every connection is opened by the programs' own rules (no links, the log
// kept when the connection closes). After one read, so that the log's index
// is mapped, a connection stays open without a transaction: a transaction
// held open would keep the log from ever being folded.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quillon::machine {

class EngineCatalogs {
 public:
  // say: where each opened, released or refused catalog is told (a line
  // without its line end).
  EngineCatalogs(std::string databases_folder, std::function<void(const std::string&)> say);
  EngineCatalogs(const EngineCatalogs&) = delete;
  EngineCatalogs& operator=(const EngineCatalogs&) = delete;
  // Closes every connection (CloseAll).
  ~EngineCatalogs();

  // Lets go of each catalog whose file is gone or is another file now (a
  // dropped catalog, or one dropped and created again), without folding its
  // log, and opens each catalog file not held yet. A catalog that cannot be
  // opened is tried again at the next call.
  void Refresh();

  // Folds each held catalog's log into its database where the log holds
  // frames not folded yet, without waiting for anybody (a catalog busy with
  // another fold is left for the next call). A catalog that has turned to
  // the write-ahead log since it was opened gets its log's index mapped.
  void FoldLogs();

  // Closes every connection; the last connection to a catalog folds its log
  // as it closes, unless the catalog's file is gone or replaced.
  void CloseAll();

  // The file names of the catalogs held, sorted.
  std::vector<std::string> Held() const;

 private:
  struct Catalog;
  void Hold(const std::string& file_name);
  void Release(Catalog& catalog, bool fold);
  // Folds one catalog's log: "" when done (or left to another connection
  // folding it now), else SQLite's message.
  std::string Fold(Catalog& catalog);
  void Refused(const std::string& file_name, const struct ::stat& file, const std::string& why);

  std::string folder_;
  std::function<void(const std::string&)> say_;
  std::vector<std::unique_ptr<Catalog>> held_;
  // Why a catalog file (by name, device and inode) could not be opened, so
  // that a failure repeated at every call is told once.
  std::map<std::string, std::string> refusals_;
};

}  // namespace quillon::machine
