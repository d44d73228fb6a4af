// The Windows file system through the ANSI file calls. This header does not
// include the Windows headers.
#pragma once

#include <memory>
#include <string>

#include "shared/host_file_system.h"

namespace quillon {

class Win32FileSystem : public HostFileSystem {
 public:
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
};

}  // namespace quillon
