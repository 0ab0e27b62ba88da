# The linux host: SG_IO on /dev/sgN, sysfs for the disk list, a logind inhibitor lock, udev for
# hot-plug, CAP_SYS_RAWIO; the images assembled into the binary. Every source the host adds to a
# layer is listed here (host/CMakeLists.txt says what each list is for).
set(QVB_HOST_DIR ${CMAKE_SOURCE_DIR}/host/linux)

set(QVB_HOST_SOURCES
    ${QVB_HOST_DIR}/host_linux.cpp
    ${CMAKE_SOURCE_DIR}/device/linux/disk_interfaces_linux.cpp
    ${CMAKE_SOURCE_DIR}/device/linux/host_description_linux.cpp
    ${CMAKE_SOURCE_DIR}/device/linux/privileges_linux.cpp
    ${CMAKE_SOURCE_DIR}/device/linux/sg_io.cpp
    ${CMAKE_SOURCE_DIR}/device/linux/sleep_inhibitor_linux.cpp
    ${CMAKE_SOURCE_DIR}/device/linux/system_services_linux.cpp)
# sd-bus, for the logind inhibitor lock that keeps the machine awake while firmware is written.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QVB_LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
set(QVB_HOST_LIBS PkgConfig::QVB_LIBSYSTEMD)
set(QVB_HOST_IMAGE_SOURCES ${QVB_HOST_DIR}/build_images_linux.cpp ${CMAKE_SOURCE_DIR}/host/recorded_images.cpp)
set(QVB_HOST_IMAGE_LIBS qvb_firmware_resources)

set(QVB_HOST_FIRMWARE_SOURCES ${CMAKE_SOURCE_DIR}/firmware/linux/waiting_host.cpp)
set(QVB_HOST_FIRMWARE_LIBS)

set(QVB_HOST_CLI_SOURCES ${CMAKE_SOURCE_DIR}/cli/linux/platform.cpp
                         ${CMAKE_SOURCE_DIR}/cli/linux/interrupt_guard.cpp
                         ${CMAKE_SOURCE_DIR}/cli/linux/device_changes.cpp)
# The wait for the power cycle follows udev's hot-plug events.
pkg_check_modules(QVB_CLI_LIBUDEV REQUIRED IMPORTED_TARGET libudev)
set(QVB_HOST_CLI_LIBS PkgConfig::QVB_CLI_LIBUDEV)

# The window: the Qt toolkit and the program (app/toolkit/qt, app/linux).
# Where the window programs keep their log of the last runs.
set(QVB_HOST_WINDOW_LOG_SOURCES ${CMAKE_SOURCE_DIR}/app/linux/window_log_file.cpp)
set(QVB_HOST_WINDOW_LOG_LIBS )
set(QVB_HOST_WINDOW_DIRS toolkit/qt linux)
set(QVB_HOST_DEVICE_TESTS device/linux/disk_interfaces_linux_test.cpp device/linux/sg_io_test.cpp)
set(QVB_HOST_FIRMWARE_TESTS linux/sleep_inhibition_linux_test.cpp)
# The Debian packages, the fuzzers' sysfs harness and the USB rig are for this host.
set(QVB_HOST_EXTRAS packaging fuzz usb_rig)
