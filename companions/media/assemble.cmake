# Assembles the setup media folder MEDIA (made anew) from the built programs
# and the companions' files; run by the target "media" with the paths as -D
# variables.

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

file(REMOVE_RECURSE "${MEDIA}")
file(MAKE_DIRECTORY "${MEDIA}")

# The setup folder itself.
put("${SETUP}" "Setup.exe")
put("${FALDRIN}" "Faldrin.exe")
put("${GEMTHORN}" "Gemthorn.exe")
foreach(file Applications.list EULA.rtf IIS/IIS.txt RegINI/RegINI.txt Cacls/Yes.txt)
  put("${COMPANIONS}/media/${file}" "${file}")
endforeach()
put("${HOOK}" "AppInit_DLLs/Zentrel.dll")
# The outside programs: MDAC\MDAC_TYP.exe, MSDE\setup.exe (with the database
# client it installs), RegINI\regini.exe and Cacls\cacls.exe.
execute_process(COMMAND "${MACHINE_TOOL}" media "${MEDIA}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "media: quillon-machine media failed (${status})")
endif()

# The product tree that Setup copies into Program Files.
set(product "Program Files/Harlwick/Zentrel")
put("${ZENTREL}" "${product}/Zentrel.exe")
put("${CORVANE}" "${product}/Corvane.exe")
put("${DUSMERE}" "${product}/Dusmere.exe")
file(MAKE_DIRECTORY "${MEDIA}/${product}/Logs")
put("${ZENTREL_CONFIG}" "${product}/Config/ZentrelConfig.exe")
put("${UNINSTALL}" "${product}/Uninstall/Uninstall.exe")
foreach(script "Remove Zentrel Web Site" "Remove Zentrel Database")
  put("${COMPANIONS}/scripts/${script}.vbs" "${product}/Uninstall/${script}/${script}.vbs")
endforeach()
set(database_install "${product}/Install/Install Zentrel Database")
put("${COMPANIONS}/scripts/Install Zentrel Database.vbs"
    "${database_install}/Install Zentrel Database.vbs")
put("${COMPANIONS}/database/zentrel_tables.sql" "${database_install}/zentrel_tables.sql")
set(site_install "${product}/Install/Install Zentrel Web Site")
put("${COMPANIONS}/scripts/Install Zentrel Web Site.vbs"
    "${site_install}/Install Zentrel Web Site.vbs")
file(COPY "${COMPANIONS}/site/Zentrel" DESTINATION "${MEDIA}/${site_install}")

# The Start Menu group that Setup copies into the administrator's Programs.
file(COPY "${COMPANIONS}/media/Start Menu/Quillon" DESTINATION "${MEDIA}/Start Menu")
