# Cross-compiles the shipped 32-bit Windows program.
set(QVB_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
