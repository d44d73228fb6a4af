// The settings file Zentrel.ini: the administrator's e-mail address and the
// mail server, written once by the installer and read by the checker.
#pragma once

#include <string>

#include "shared/helpers/product.h"
#include "shared/host_file_system.h"
#include "shared/platform.h"

namespace quillon {

// Reads the settings file at settings_path and returns address + "," + server
// (both may be empty; a missing file gives ","). Throws HostError when the
// file exists but cannot be read.
std::string ReadMailSettings(HostFileSystem& files, const std::string& settings_path);

// Asks for the address and the server with two input boxes and writes the
// settings file at settings_path (created or emptied).
void WriteMailSettings(Dialogs& dialogs, HostFileSystem& files, const std::string& settings_path);

}  // namespace quillon
