# The win32 host: SCSI pass-through, SetupDi, the Win32 services; the images as "FW" resources.
add_library(qvb_build_images STATIC ${CMAKE_CURRENT_LIST_DIR}/build_images_win32.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/../recorded_images.cpp)
target_link_libraries(qvb_build_images PUBLIC qvb_device qvb_firmware_resources)

add_library(qvb_host STATIC ${CMAKE_CURRENT_LIST_DIR}/host_win32.cpp)
target_link_libraries(qvb_host PUBLIC qvb_device_host qvb_build_images)
