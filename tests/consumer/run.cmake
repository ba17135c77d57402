# Installs the built library into a scratch prefix, then builds and runs two small callers (of the
# core library and of the DIMACS component) three ways:
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

# The installed program finds the installed libraries by itself, and answers with status 10.
if(NUBRIX_CLI)
  file(WRITE ${WORK_DIR}/two.cnf "p cnf+ 3 2\n1 2 3 <= 1\n2 0\n")
  execute_process(COMMAND ${prefix}/bin/nubrix -q ${WORK_DIR}/two.cnf OUTPUT_VARIABLE answer RESULT_VARIABLE status)
  if(NOT status EQUAL 10 OR NOT answer STREQUAL "s SATISFIABLE\n")
    message(FATAL_ERROR "installed nubrix answered '${answer}' with status ${status}")
  endif()
endif()

run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/installed -B ${WORK_DIR}/installed
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/installed)
run(${WORK_DIR}/installed/consumer)
if(NUBRIX_DIMACS)
  run(${WORK_DIR}/installed/dimacs_consumer)
endif()

run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/subdirectory -B ${WORK_DIR}/subdirectory
    -DNUBRIX_SOURCE_DIR=${NUBRIX_SOURCE_DIR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/subdirectory)
run(${WORK_DIR}/subdirectory/consumer)
if(NUBRIX_DIMACS)
  run(${WORK_DIR}/subdirectory/dimacs_consumer)
endif()

find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
set(callers nubrix:consumer)
if(NUBRIX_DIMACS)
  list(APPEND callers nubrix_dimacs:dimacs_consumer)
endif()
foreach(package_and_program ${callers})
  string(REPLACE ":" ";" parts ${package_and_program})
  list(GET parts 0 package)
  list(GET parts 1 program)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs ${package} OUTPUT_VARIABLE flags
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know ${package}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX} ${CMAKE_CURRENT_LIST_DIR}/${program}.cpp ${flags} -o ${WORK_DIR}/pkgconfig-${program})
  run(${WORK_DIR}/pkgconfig-${program})
endforeach()
