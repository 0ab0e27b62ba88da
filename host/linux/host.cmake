# The linux host: SG_IO, sysfs, logind; the images assembled into the binary.
add_library(qvb_build_images STATIC ${CMAKE_CURRENT_LIST_DIR}/build_images_linux.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/../recorded_images.cpp)
target_link_libraries(qvb_build_images PUBLIC qvb_device qvb_firmware_resources)

add_library(qvb_host STATIC ${CMAKE_CURRENT_LIST_DIR}/host_linux.cpp)
target_link_libraries(qvb_host PUBLIC qvb_device_host qvb_build_images)
