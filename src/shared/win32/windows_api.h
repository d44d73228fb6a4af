// The one place the Win32 backends take the Windows headers from. The
// platform's macros that rename functions to their ...A/...W forms collide
// with the facades' method names (DeleteFile, CopyFile, MoveFile, ...), so
// they are undefined here; the backends call the ...A functions by name.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <sddl.h>
#include <sql.h>
#include <sqlext.h>
// clang-format on

#undef CopyFile
#undef DeleteFile
#undef MoveFile
#undef GetFolder
#undef CreateFolder
#undef FindFirstFile
#undef FindNextFile
#undef GetEnvironmentVariable
#undef RegDeleteValue
#undef MessageBox
#undef Yield
#undef GetCommandLine
#undef GetModuleFileName
#undef Sleep
