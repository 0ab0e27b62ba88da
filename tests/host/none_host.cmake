# The none host builds and its command line says that there is no device: configures a build of
# the command line alone with -DQVB_HOST=none in BINARY_DIR, builds it and runs
# `qvb886-fwupdate list`, which must end with status 3 and say "no device" in its JSON document.
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DGENERATOR=... -P none_host.cmake
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G ${GENERATOR} -DQVB_HOST=none
          -DQVB_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
  RESULT_VARIABLE configured OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configure with QVB_HOST=none failed:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --target qvb886-fwupdate -j2
                RESULT_VARIABLE built OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "build with QVB_HOST=none failed:\n${out}")
endif()
set(program ${BINARY_DIR}/cli/qvb886-fwupdate)
foreach(args IN ITEMS "list" "list;--json")
  execute_process(COMMAND ${program} ${args} RESULT_VARIABLE code OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT code EQUAL 3)
    message(FATAL_ERROR "qvb886-fwupdate ${args} on the none host: exit ${code}, not 3\n${out}${err}")
  endif()
  message(STATUS "qvb886-fwupdate ${args}: exit 3\n${out}${err}")
endforeach()
if(NOT out MATCHES "\"outcome\": *\"no_device\"")
  message(FATAL_ERROR "qvb886-fwupdate list --json on the none host says no no_device:\n${out}")
endif()
