# 64-bit Windows with mingw-w64. Test programs run under Wine through scripts/wine-run, inside
# the Wine session that cmake/WindowsTesting.cmake sets up for each test run.
set(TARVELO_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)

cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH _tarvelo_source_dir)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_tarvelo_source_dir}/scripts/wine-run)
