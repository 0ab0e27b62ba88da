# The win32 host: SCSI pass-through, SetupDi for the disk list, the Win32 services, the
# Administrators group; the images as "FW" resources of the module. Every source the host adds
# to a layer is listed here (host/CMakeLists.txt says what each list is for).
set(QVB_HOST_DIR ${CMAKE_SOURCE_DIR}/host/win32)

set(QVB_HOST_SOURCES
    ${QVB_HOST_DIR}/host_win32.cpp
    ${CMAKE_SOURCE_DIR}/device/win32/disk_interfaces_win32.cpp
    ${CMAKE_SOURCE_DIR}/device/win32/host_description_win32.cpp
    ${CMAKE_SOURCE_DIR}/device/win32/privileges_win32.cpp
    ${CMAKE_SOURCE_DIR}/device/win32/scsi_pass_through_win32.cpp
    ${CMAKE_SOURCE_DIR}/device/win32/system_services_win32.cpp)
set(QVB_HOST_LIBS setupapi)
set(QVB_HOST_IMAGE_SOURCES ${QVB_HOST_DIR}/build_images_win32.cpp ${CMAKE_SOURCE_DIR}/host/recorded_images.cpp)
set(QVB_HOST_IMAGE_LIBS qvb_firmware_resources)

set(QVB_HOST_FIRMWARE_SOURCES ${CMAKE_SOURCE_DIR}/firmware/win32/waiting_host.cpp)
set(QVB_HOST_FIRMWARE_LIBS shell32)

set(QVB_HOST_CLI_SOURCES ${CMAKE_SOURCE_DIR}/cli/win32/platform.cpp
                         ${CMAKE_SOURCE_DIR}/cli/win32/interrupt_guard.cpp
                         ${CMAKE_SOURCE_DIR}/cli/win32/device_changes.cpp)
set(QVB_HOST_CLI_LIBS)

# The window: the Win32 toolkit and the programs (app/toolkit/win32, app/win32).
# Where the window programs keep their log of the last runs.
set(QVB_HOST_WINDOW_LOG_SOURCES ${CMAKE_SOURCE_DIR}/app/win32/window_log_file.cpp)
set(QVB_HOST_WINDOW_LOG_LIBS shell32)
set(QVB_HOST_WINDOW_DIRS toolkit/win32 win32)
set(QVB_HOST_DEVICE_TESTS
    device/win32/disk_interfaces_win32_test.cpp device/win32/scsi_pass_through_win32_test.cpp
    device/win32/system_services_win32_test.cpp resources/resources_win32_test.cpp)
set(QVB_HOST_FIRMWARE_TESTS win32/sleep_inhibition_win32_test.cpp)
set(QVB_HOST_EXTRAS)
