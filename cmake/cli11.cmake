# Command-line parsing through Debian's header-only CLI11, as the interface
# library quillon_cli11. The cross build takes the same headers: only the
# folder CLI/ is put on its include path.
find_path(QUILLON_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUILLON_CLI11_DIR)
  message(FATAL_ERROR "CLI/CLI.hpp is missing: install the Debian package libcli11-dev "
                      "(scripts/install-deps does)")
endif()
set(QUILLON_CLI11_INCLUDE ${CMAKE_BINARY_DIR}/third_party/cli11)
file(MAKE_DIRECTORY ${QUILLON_CLI11_INCLUDE})
file(CREATE_LINK ${QUILLON_CLI11_DIR}/CLI ${QUILLON_CLI11_INCLUDE}/CLI SYMBOLIC)
add_library(quillon_cli11 INTERFACE)
target_include_directories(quillon_cli11 SYSTEM INTERFACE ${QUILLON_CLI11_INCLUDE})
