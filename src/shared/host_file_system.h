// HostFileSystem: files and folders by Windows path. Paths may be relative to
// the current directory. Text is 8-bit, in the system code page.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quillon {

enum class IoMode : int { kForReading = 1, kForWriting = 2, kForAppending = 8 };

class TextStream {
 public:
  virtual ~TextStream() = default;
  // Reads one line and drops its line end (CR LF or a bare LF).
  // Throws HostError past the end of the stream.
  virtual std::string ReadLine() = 0;
  virtual bool AtEndOfStream() = 0;
  // Writes the text as it is; adds no line end.
  virtual void Write(const std::string& text) = 0;
  virtual void Close() = 0;
};

struct FolderEntry {
  std::string name;  // the bare name, as stored
  std::string path;  // the full path, usable wherever a path is taken
  // A symbolic link or junction (a reparse point on Windows): the entry
  // stands for something elsewhere, which a walk of the tree must not enter.
  bool link = false;
};

// A folder's content, taken once when GetFolder is called.
struct Folder {
  std::string path;
  std::vector<FolderEntry> files;
  std::vector<FolderEntry> sub_folders;
};

class HostFileSystem {
 public:
  virtual ~HostFileSystem() = default;

  virtual bool FileExists(const std::string& path) = 0;
  virtual bool FolderExists(const std::string& path) = 0;

  // A destination ending in "\" is an existing folder that receives the source
  // under its own name; otherwise it is the new name. With overwrite, existing
  // files are replaced. Throws HostError on failure.
  virtual void CopyFile(const std::string& source, const std::string& destination,
                        bool overwrite) = 0;
  virtual void CopyFolder(const std::string& source, const std::string& destination,
                          bool overwrite) = 0;
  // With force, read-only items go too. A folder goes with all it holds.
  // Throws HostError when the item does not exist or cannot be deleted.
  virtual void DeleteFile(const std::string& path, bool force) = 0;
  virtual void DeleteFolder(const std::string& path, bool force) = 0;
  // Throws HostError when the destination exists or the source does not.
  virtual void MoveFile(const std::string& source, const std::string& destination) = 0;

  // Mode 1 reads, 2 writes (empties an existing file), 8 appends. A missing
  // file is created only with create set; otherwise it is an error.
  virtual std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IoMode mode,
                                                   bool create) = 0;

  // Throws HostError when the folder does not exist.
  virtual Folder GetFolder(const std::string& path) = 0;
};

}  // namespace quillon
