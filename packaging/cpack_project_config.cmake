# Read by cpack before it packages anything. A test build carries generated placeholder images
# in place of the vendor's firmware: packaged by mistake it would look like the real updater.
# cpack -D QVB_PACKAGE_TEST_BUILD=ON (or the cache option of the same name) packages one on
# purpose; its package names already end in -test-build, and the descriptions say why.
if(NOT CPACK_QVB_TEST_BUILD)
  return()
endif()
if(NOT CPACK_QVB_PACKAGE_TEST_BUILD AND NOT QVB_PACKAGE_TEST_BUILD)
  message(FATAL_ERROR
          "This is a test build: it carries generated test images, not the QVB886 firmware, and "
          "cannot update a real bridge, so it is not packaged.\n"
          "A release build: configure with -DQVB_FIRMWARE_DIR=<folder with the four images and "
          "their SHA256SUMS> (or run scripts/release.sh IMAGES_DIR OUT_DIR).\n"
          "A package of this test build on purpose, marked as such in its name and description: "
          "cpack -G DEB -D QVB_PACKAGE_TEST_BUILD=ON")
endif()
set(note "TEST BUILD: carries generated test images, not the QVB886 firmware.\n"
         "It updates only test devices (the virtual bridge and test gadgets).\n")
string(CONCAT note ${note})
foreach(component IN ITEMS CLI GUI)
  set(description "${CPACK_COMPONENT_${component}_DESCRIPTION}")
  string(FIND "${description}" "\n" end)
  string(SUBSTRING "${description}" 0 ${end} summary)
  math(EXPR end "${end} + 1")
  string(SUBSTRING "${description}" ${end} -1 rest)
  set(CPACK_COMPONENT_${component}_DESCRIPTION "${summary} (test build)\n${note}${rest}")
endforeach()
