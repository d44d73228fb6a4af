#include "uninstall/uninstaller.h"

#include "shared/helpers/hooking_value.h"
#include "shared/helpers/product.h"
#include "shared/helpers/skipping.h"
#include "shared/helpers/text.h"

namespace quillon {

namespace {

constexpr char kStartMenuGroupSuffix[] = "\\Programs\\Quillon";
constexpr char kUninstallFolderName[] = "Uninstall";
constexpr char kRetiredSuffix[] = ".old";

// The registration values, in the order they are deleted; the key stays.
constexpr const char* kRegistrationValues[] = {"DisplayIcon", "DisplayName", "NoModify", "NoRepair",
                                               "UninstallString"};

// Runs a removal script hidden and waits for it; its outcome is not looked
// at, and a missing script only makes its command end at once.
void RunRemovalScript(HostShell& shell, const std::string& script_path) {
  shell.Run(ScriptCommand(script_path), kWindowHidden, true);
}

// The current user's Quillon group in the Start Menu, with all it holds.
void RemoveStartMenuGroup(HostShell& shell, HostFileSystem& files) {
  const std::string group = shell.SpecialFolders("StartMenu") + kStartMenuGroupSuffix;
  if (files.FolderExists(group)) files.DeleteFolder(group, true);
}

// The registration values, each skipped when it cannot be deleted (missing
// already, say).
void RemoveRegistration(HostShell& shell) {
  for (const char* value : kRegistrationValues) {
    Skipping([&] { shell.RegDelete(std::string(kUninstallRegistrationKey) + "\\" + value); });
  }
}

// The subfolders of the Uninstall folder (the removal scripts' folders among
// them); what lies directly in it, the running uninstaller included, stays.
void RemoveUninstallSubfolders(HostFileSystem& files, const std::string& uninstall_folder) {
  if (!Skipping([&] { return files.FolderExists(uninstall_folder); })) return;
  const Folder uninstall = Skipping([&] { return files.GetFolder(uninstall_folder); });
  for (const FolderEntry& sub_folder : uninstall.sub_folders) {
    Skipping([&] { files.DeleteFolder(sub_folder.path, true); });
  }
}

// True for the product's Uninstall subfolder, whatever the case of its name.
bool IsUninstallFolder(const std::string& folder_name) {
  return UpperCase(folder_name) == UpperCase(kUninstallFolderName);
}

// Every file and every subfolder of the product folder except its Uninstall
// subfolder, which is emptied of its own subfolders only.
void RemoveProductFiles(HostFileSystem& files, const std::string& product_folder) {
  if (!Skipping([&] { return files.FolderExists(product_folder); })) return;
  // The listing is taken once, before anything is deleted.
  const Folder product = Skipping([&] { return files.GetFolder(product_folder); });
  for (const FolderEntry& file : product.files) {
    Skipping([&] { files.DeleteFile(file.path, true); });
  }
  for (const FolderEntry& sub_folder : product.sub_folders) {
    if (IsUninstallFolder(sub_folder.name)) continue;
    Skipping([&] { files.DeleteFolder(sub_folder.path, true); });
  }
  RemoveUninstallSubfolders(files, product_folder + "\\" + kUninstallFolderName);
}

// Renames the hook library to its retired name, replacing an earlier retired
// file. Without the library nothing changes, an earlier retired file included.
void RetireHookLibrary(HostFileSystem& files, const std::string& system_folder) {
  // The hook library's file name is the one AppInit_DLLs names when hooking is on.
  const std::string library = system_folder + "\\" + kHookingEnabledForm;
  const std::string retired = library + kRetiredSuffix;
  if (!Skipping([&] { return files.FileExists(library); })) return;
  if (Skipping([&] { return files.FileExists(retired); })) {
    Skipping([&] { files.DeleteFile(retired, true); });
  }
  Skipping([&] { files.MoveFile(library, retired); });
}

}  // namespace

void RunUninstall(Host& host, const std::string& /*argument_text*/) {
  // Stops at the first failure.
  HostShell& shell = host.shell;
  const std::string windir = shell.Environment("windir");
  const std::string program_files = shell.Environment("ProgramFiles");

  shell.RegWrite(kAppInitDllsPath, kHookingDisabledForm, kAppInitDllsType);
  RunRemovalScript(shell, program_files + kWebSiteRemovalScriptSuffix.data());
  RunRemovalScript(shell, program_files + kDatabaseRemovalScriptSuffix.data());

  HostFileSystem& files = host.files;
  RemoveStartMenuGroup(shell, files);

  // Skips each failing operation.
  RemoveRegistration(shell);
  RemoveProductFiles(files, program_files + kProductFolderSuffix);
  RetireHookLibrary(files, windir + "\\system32");

  // Stops at a failure again.
  host.dialogs.MsgBox("Quillon uninstall completed successfully.", kMbIconInformation,
                      "Uninstall Quillon");
}

}  // namespace quillon
