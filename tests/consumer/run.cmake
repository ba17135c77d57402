# Installs the built library into a scratch prefix, then builds and runs a small caller three ways:
# with find_package against the installed tree, with add_subdirectory of the source tree, and with
# the flags pkg-config gives.
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${NUBRIX_BINARY_DIR} --prefix ${prefix})

run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/installed -B ${WORK_DIR}/installed
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/installed)
run(${WORK_DIR}/installed/consumer)

run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/subdirectory -B ${WORK_DIR}/subdirectory
    -DNUBRIX_SOURCE_DIR=${NUBRIX_SOURCE_DIR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/subdirectory)
run(${WORK_DIR}/subdirectory/consumer)

find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs nubrix OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know nubrix")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} ${CMAKE_CURRENT_LIST_DIR}/consumer.cpp ${flags} -o ${WORK_DIR}/pkgconfig-consumer)
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
run(${WORK_DIR}/pkgconfig-consumer)
