# Assembles the setup media folder MEDIA (made anew) from the built programs
# and the companions' files; run by the target "media" with the paths as -D
# variables. PLATFORM is posix (the portable host's media) or win32 (the
# Windows media).

cmake_minimum_required(VERSION 3.22)

# Copies a file to MEDIA/relative (folders made as needed), keeping its
# permission bits, so that programs stay executable.
function(put source relative)
  if(NOT EXISTS "${source}")
    message(FATAL_ERROR "media: ${source} is missing")
  endif()
  get_filename_component(folder "${MEDIA}/${relative}" DIRECTORY)
  get_filename_component(name "${MEDIA}/${relative}" NAME)
  get_filename_component(source_name "${source}" NAME)
  file(MAKE_DIRECTORY "${folder}")
  file(COPY "${source}" DESTINATION "${folder}")
  if(NOT source_name STREQUAL name)
    file(RENAME "${folder}/${source_name}" "${folder}/${name}")
  endif()
endfunction()

# A text file of the media: on Windows media every line ends in CR LF, as
# the system's text files do; the portable media take it as it is.
function(put_text source relative)
  if(NOT PLATFORM STREQUAL "win32")
    put("${source}" "${relative}")
    return()
  endif()
  if(NOT EXISTS "${source}")
    message(FATAL_ERROR "media: ${source} is missing")
  endif()
  file(READ "${source}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${MEDIA}/${relative}" "${text}")
endfunction()

# The libraries a Windows program of the media may import: the system's own.
# Anything else (the compiler's runtime libraries above all) would be missing
# on a bare Windows.
set(system_libraries
    ADVAPI32.DLL COMCTL32.DLL COMDLG32.DLL CRYPT32.DLL DNSAPI.DLL GDI32.DLL
    IPHLPAPI.DLL KERNEL32.DLL MSVCRT.DLL ODBC32.DLL OLE32.DLL OLEAUT32.DLL PSAPI.DLL
    SECUR32.DLL SHELL32.DLL SHLWAPI.DLL USER32.DLL USERENV.DLL VERSION.DLL WS2_32.DLL
    WSOCK32.DLL)

# Fails unless the file is a 64-bit Windows image (PE32+) that imports
# system libraries only.
function(check_windows_image file)
  execute_process(COMMAND "${OBJDUMP}" -p "${file}" OUTPUT_VARIABLE headers
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "media: ${OBJDUMP} cannot read ${file}")
  endif()
  if(NOT headers MATCHES "Magic[ \t]+020b")
    message(FATAL_ERROR "media: ${file} is not a PE32+ image")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
  foreach(import ${imports})
    string(REGEX REPLACE "DLL Name: " "" library "${import}")
    string(STRIP "${library}" library)
    string(TOUPPER "${library}" upper)
    if(NOT upper IN_LIST system_libraries)
      message(FATAL_ERROR "media: ${file} imports ${library}, which is not a system library")
    endif()
  endforeach()
endfunction()

# A built program onto the media; on Windows media it is checked first.
function(put_program source relative)
  if(PLATFORM STREQUAL "win32")
    check_windows_image("${source}")
  endif()
  put("${source}" "${relative}")
endfunction()

if(PLATFORM STREQUAL "win32")
  set(scripts "${COMPANIONS}/scripts/win32")
  set(schema_files "${COMPANIONS}/database/win32/zentrel_database.sql"
                   "${COMPANIONS}/database/win32/zentrel_tables.sql")
else()
  set(scripts "${COMPANIONS}/scripts")
  set(schema_files "${COMPANIONS}/database/zentrel_tables.sql")
endif()

file(REMOVE_RECURSE "${MEDIA}")
file(MAKE_DIRECTORY "${MEDIA}")

# The setup folder itself.
put_program("${SETUP}" "Setup.exe")
put_program("${FALDRIN}" "Faldrin.exe")
put_program("${GEMTHORN}" "Gemthorn.exe")
foreach(file Applications.list IIS/IIS.txt RegINI/RegINI.txt Cacls/Yes.txt)
  put_text("${COMPANIONS}/media/${file}" "${file}")
endforeach()
put("${COMPANIONS}/media/EULA.rtf" "EULA.rtf")
put_program("${HOOK}" "AppInit_DLLs/Zentrel.dll")

# The outside programs: MDAC\MDAC_TYP.exe, MSDE\setup.exe (with the database
# client and the engine it installs), RegINI\regini.exe and Cacls\cacls.exe. The portable
# machine's stand-ins come from its tool; the Windows media leave the
# installers' folders empty for the vendor's installers (see README.md) and
# rely on the system's own permission tools.
if(PLATFORM STREQUAL "win32")
  file(MAKE_DIRECTORY "${MEDIA}/MDAC" "${MEDIA}/MSDE")
else()
  execute_process(COMMAND "${MACHINE_TOOL}" media "${MEDIA}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "media: quillon-machine media failed (${status})")
  endif()
endif()

# The product tree that Setup copies into Program Files.
set(product "Program Files/Harlwick/Zentrel")
put_program("${ZENTREL}" "${product}/Zentrel.exe")
put_program("${CORVANE}" "${product}/Corvane.exe")
put_program("${DUSMERE}" "${product}/Dusmere.exe")
file(MAKE_DIRECTORY "${MEDIA}/${product}/Logs")
put_program("${ZENTREL_CONFIG}" "${product}/Config/ZentrelConfig.exe")
put_program("${ZENTREL_ADMIN}" "${product}/Config/ZentrelAdmin.exe")
put_program("${UNINSTALL}" "${product}/Uninstall/Uninstall.exe")
foreach(script "Remove Zentrel Web Site" "Remove Zentrel Database")
  put_text("${scripts}/${script}.vbs" "${product}/Uninstall/${script}/${script}.vbs")
endforeach()
set(database_install "${product}/Install/Install Zentrel Database")
put_text("${scripts}/Install Zentrel Database.vbs"
         "${database_install}/Install Zentrel Database.vbs")
foreach(schema ${schema_files})
  get_filename_component(schema_name "${schema}" NAME)
  put_text("${schema}" "${database_install}/${schema_name}")
endforeach()
set(site_install "${product}/Install/Install Zentrel Web Site")
put_text("${scripts}/Install Zentrel Web Site.vbs" "${site_install}/Install Zentrel Web Site.vbs")
file(COPY "${COMPANIONS}/site/Zentrel" DESTINATION "${MEDIA}/${site_install}")
put_program("${ZENTREL_WEB}" "${site_install}/Zentrel/ZentrelWeb.exe")

# The Start Menu group that Setup copies into the administrator's Programs.
# On Windows media each text shortcut becomes a shell link of the same name.
if(PLATFORM STREQUAL "win32")
  put_text("${COMPANIONS}/media/Start Menu/Quillon/Quillon Administration.url"
           "Start Menu/Quillon/Quillon Administration.url")
  file(GLOB shortcuts "${COMPANIONS}/media/Start Menu/Quillon/*.lnk")
  foreach(shortcut ${shortcuts})
    get_filename_component(name "${shortcut}" NAME)
    execute_process(COMMAND "${MAKE_SHELL_LINK}" "${shortcut}"
                            "${MEDIA}/Start Menu/Quillon/${name}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "media: no shell link for ${shortcut}")
    endif()
  endforeach()
else()
  file(COPY "${COMPANIONS}/media/Start Menu/Quillon" DESTINATION "${MEDIA}/Start Menu")
endif()
