# The none host: nothing behind any seam (host/none/*.cpp, plain C++ and its standard library).
# Its programs build, find no disk, open nothing and say that there is no device. A port to
# another host starts here: copy this folder to host/<name>, build with -DQVB_HOST=<name>, and
# replace one piece at a time. Every source the host adds to a layer is listed here
# (host/CMakeLists.txt says what each list is for).
set(QVB_HOST_DIR ${CMAKE_SOURCE_DIR}/host/none)

set(QVB_HOST_SOURCES ${QVB_HOST_DIR}/host_none.cpp)
set(QVB_HOST_LIBS)
set(QVB_HOST_IMAGE_SOURCES ${QVB_HOST_DIR}/build_images_none.cpp)
set(QVB_HOST_IMAGE_LIBS)

set(QVB_HOST_FIRMWARE_SOURCES ${QVB_HOST_DIR}/waiting_host_none.cpp)
set(QVB_HOST_FIRMWARE_LIBS)

set(QVB_HOST_CLI_SOURCES ${QVB_HOST_DIR}/cli_none.cpp)
set(QVB_HOST_CLI_LIBS)

# No window program (the headless toolkit is built on every host), no host-specific tests.
# Where the window programs keep their log of the last runs.
set(QVB_HOST_WINDOW_LOG_SOURCES ${QVB_HOST_DIR}/window_log_file_none.cpp)
set(QVB_HOST_WINDOW_LOG_LIBS )
set(QVB_HOST_WINDOW_DIRS)
set(QVB_HOST_DEVICE_TESTS)
set(QVB_HOST_FIRMWARE_TESTS)
set(QVB_HOST_EXTRAS)
