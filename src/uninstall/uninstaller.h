// Uninstall: turns hooking off, has the removal scripts take down the web site
// and the database, removes the Start Menu group, the uninstall registration
// and the product files, retires the hook library's file and reports
// completion.
#pragma once

#include <string>

#include "shared/helpers/product.h"
#include "shared/helpers/script_command.h"
#include "shared/host.h"

namespace quillon {

// The removal scripts below ProgramFiles; each is run by the script host.
inline constexpr auto kWebSiteRemovalScriptSuffix = JoinLiterals(
    kProductFolderSuffix, "\\Uninstall\\Remove Zentrel Web Site\\Remove Zentrel Web Site.vbs");
inline constexpr auto kDatabaseRemovalScriptSuffix = JoinLiterals(
    kProductFolderSuffix, "\\Uninstall\\Remove Zentrel Database\\Remove Zentrel Database.vbs");

// The entry procedure. Everything up to the Start Menu group stops at the
// first failure (HostError leaves for the standard error report); the
// registration, the product files and the hook library's file are removed
// skipping each failing operation; the completion message then always shows.
// The argument text is not read.
void RunUninstall(Host& host, const std::string& argument_text);

}  // namespace quillon
