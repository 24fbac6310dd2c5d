# 32-bit Windows with mingw-w64: the flavour the program ships as. This machine cannot run
# 32-bit programs, so the build proves that it compiles and that its layouts hold; its tests
# are built but not run (cmake/WindowsTesting.cmake marks them disabled).
set(TARVELO_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
