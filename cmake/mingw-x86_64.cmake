# Cross-compiles the Windows tree for x86_64: a test vehicle that runs under wine64 on hosts that
# cannot execute 32-bit code. Built exactly as the 32-bit program is; only the target differs.
set(QVB_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
