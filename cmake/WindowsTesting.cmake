# Test support for cross builds to Windows; tests/CMakeLists.txt includes it instead of
# find_package(GTest).
#
# GoogleTest: Debian has no mingw build of it, so it is built here from Debian's source package
# (googletest, in /usr/src/googletest) with its own flags, out of reach of our warnings. It
# gives the targets find_package(GTest) would: GTest::gtest, GTest::gtest_main, GTest::gmock,
# GTest::gmock_main.
#
# Wine: when the toolchain has an emulator (the 64-bit one, scripts/wine-run), every test runs
# in one Wine session per ctest run, set up and torn down by the fixture "wine" through
# scripts/wine-session:
#   - a fresh prefix in <build>/wine/prefix (wineboot -u, window manager off, fonts linked),
#   - a private Xvfb on a free display for programs that open windows: scripts/wine-run reads
#     its name from <build>/wine/display and exports DISPLAY,
#   - one persistent wineserver, killed at the end and before the start, so that no run meets
#     a server bound to the display of an earlier one.
# tarvelo_windows_test(<test>) puts a test into that session; without an emulator (the 32-bit
# build) it marks the test disabled, since nothing here can run it.

set(TARVELO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${TARVELO_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${TARVELO_GTEST_SOURCE_DIR}: "
                        "install Debian's googletest package (scripts/setup does)")
endif()
set(INSTALL_GTEST OFF)
set(BUILD_GMOCK ON)
add_subdirectory(${TARVELO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(TARVELO_WINE_DIR ${CMAKE_BINARY_DIR}/wine CACHE INTERNAL "State of the Wine test session")
    add_test(NAME wine_session_start
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-session start ${TARVELO_WINE_DIR})
    add_test(NAME wine_session_stop
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-session stop ${TARVELO_WINE_DIR})
    set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
    set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endif()

# tarvelo_windows_test(<test>): runs <test> in the Wine session (or disables it, see above).
# Its command must go through the emulator: implicitly when the command is a target of ours,
# or explicitly as ${CMAKE_CROSSCOMPILING_EMULATOR} <program> otherwise.
function(tarvelo_windows_test name)
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED wine)
        set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT TARVELO_WINE_DIR=${TARVELO_WINE_DIR})
        set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    else()
        set_tests_properties(${name} PROPERTIES DISABLED TRUE)
    endif()
endfunction()
