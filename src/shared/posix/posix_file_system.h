// HostFileSystem on the portable machine: Windows paths mapped onto the
// machine's drive folders, with the file-system object's behaviour (read-only
// items, destinations ending in "\", errors by the scripting runtime's
// numbers). A file without its owner's write bit is read-only.
#pragma once

#include <memory>
#include <string>

#include "shared/host_file_system.h"
#include "shared/posix/portable_machine.h"

namespace quillon {

class PosixFileSystem : public HostFileSystem {
 public:
  explicit PosixFileSystem(const PortableMachine& machine) : machine_(machine) {}

  bool FileExists(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  void CopyFile(const std::string& source, const std::string& destination, bool overwrite) override;
  void CopyFolder(const std::string& source, const std::string& destination,
                  bool overwrite) override;
  void DeleteFile(const std::string& path, bool force) override;
  void DeleteFolder(const std::string& path, bool force) override;
  void MoveFile(const std::string& source, const std::string& destination) override;
  std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IoMode mode,
                                           bool create) override;
  Folder GetFolder(const std::string& path) override;

 private:
  const PortableMachine& machine_;
};

}  // namespace quillon
