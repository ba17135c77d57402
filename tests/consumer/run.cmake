# Installs the built library into a scratch prefix, then builds and runs small callers (of the core
# library in C++ and in C, of the DIMACS component, and of IPASIR, shared and static) three ways:
# with find_package against the installed tree, with add_subdirectory of the source tree, and with
# the flags pkg-config gives and the run-time path the README adds to them. The `cmake` and
# `sh installed` code blocks of README.md and docs/*.md are built and run against the installed tree
# too (docs/testing.md). The installed callers run again against a second build of the source
# installed with a multiarch libdir (lib/<triplet>), as Debian's packages are.
cmake_minimum_required(VERSION 3.21)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

include(${CMAKE_CURRENT_LIST_DIR}/../run_command.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../docs/blocks.cmake)

# The callers each way against the tree installed in `prefix` with the given libdir.
function(consume prefix libdir tag)
  set(build ${WORK_DIR}/installed-${tag})
  run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/installed -B ${build} -DCMAKE_PREFIX_PATH=${prefix}
      -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC} -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${build})
  set(programs consumer c_consumer ipasir_consumer ipasir_static_consumer)
  if(NUBRIX_DIMACS)
    list(APPEND programs dimacs_consumer)
  endif()
  foreach(program ${programs})
    run(${build}/${program})
  endforeach()

  # pkg-config's flags and the library's directory as the run-time path, with no LD_LIBRARY_PATH.
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${libdir}/pkgconfig)
  unset(ENV{LD_LIBRARY_PATH})
  set(callers nubrix:consumer.cpp nubrix:c_consumer.c nubrix_ipasir:ipasir_consumer.c)
  if(NUBRIX_DIMACS)
    list(APPEND callers nubrix_dimacs:dimacs_consumer.cpp)
  endif()
  foreach(package_and_source ${callers})
    string(REPLACE ":" ";" parts ${package_and_source})
    list(GET parts 0 package)
    list(GET parts 1 source)
    execute_process(COMMAND ${PKG_CONFIG} --cflags --libs ${package} OUTPUT_VARIABLE flags
                    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "pkg-config does not know ${package}")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    execute_process(COMMAND ${PKG_CONFIG} --variable=libdir ${package} OUTPUT_VARIABLE package_libdir
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND flags -Wl,-rpath,${package_libdir})
    if(source MATCHES "\\.c$")
      set(compiler ${CC} -std=c99)
    else()
      set(compiler ${CXX} -std=c++20)
    endif()
    run(${compiler} ${CMAKE_CURRENT_LIST_DIR}/${source} ${flags} -o ${WORK_DIR}/pkgconfig-${tag}-${source})
    run(${WORK_DIR}/pkgconfig-${tag}-${source})
  endforeach()

  # The static IPASIR library holds the solver: the program needs no nubrix library at run time.
  execute_process(COMMAND ${PKG_CONFIG} --variable=libdir nubrix_ipasir OUTPUT_VARIABLE ipasir_libdir
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${PKG_CONFIG} --cflags nubrix_ipasir OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(program ${WORK_DIR}/pkgconfig-${tag}-ipasir-static)
  run(${CC} -std=c99 ${CMAKE_CURRENT_LIST_DIR}/ipasir_consumer.c ${flags} ${ipasir_libdir}/libnubrix_ipasir.a -lstdc++
      -lm -o ${program})
  run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${program})

  # Without the run-time path the program does not start, as the README says, quoting the loader.
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs nubrix OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(program ${WORK_DIR}/pkgconfig-${tag}-no-rpath)
  run(${CXX} -std=c++20 ${CMAKE_CURRENT_LIST_DIR}/consumer.cpp ${flags} -o ${program})
  execute_process(COMMAND ${program} RESULT_VARIABLE status ERROR_VARIABLE message)
  string(REGEX MATCH "libnubrix[.]so[.][0-9]+: cannot open shared object file" loader_message "${message}")
  if(status EQUAL 0 OR NOT loader_message)
    message(FATAL_ERROR "built without a run-time path, the program gave status ${status} and said '${message}'")
  endif()
  file(READ ${NUBRIX_SOURCE_DIR}/README.md readme)
  string(FIND "${readme}" "${loader_message}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README.md does not quote the loader's '${loader_message}'")
  endif()

  consume_documented(${prefix} ${libdir} ${tag})
endfunction()

# The `cmake` and `sh installed` blocks of the docs against the tree installed in `prefix`. A `cmake`
# block is the CMakeLists.txt of a project around app.cpp, built with the tree on CMAKE_PREFIX_PATH,
# and the program `app` it builds must run. An `sh installed` block runs in a directory with the
# callers app.cpp, app.c (of the C interface) and ipasir_app.c, with pkg-config finding the tree,
# no LD_LIBRARY_PATH, and `c++` and `cc` the compilers of this build.
function(consume_documented prefix libdir tag)
  set(dir ${WORK_DIR}/documented-${tag})
  file(MAKE_DIRECTORY ${dir}/bin)
  file(WRITE ${dir}/bin/c++ "#!/bin/sh\nexec '${CXX}' \"$@\"\n")
  file(WRITE ${dir}/bin/cc "#!/bin/sh\nexec '${CC}' \"$@\"\n")
  file(CHMOD ${dir}/bin/c++ ${dir}/bin/cc PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  file(GLOB docs ${NUBRIX_SOURCE_DIR}/docs/*.md)
  set(run_blocks 0)
  foreach(doc ${NUBRIX_SOURCE_DIR}/README.md ${docs})
    nubrix_doc_blocks(${doc} ${dir}/blocks blocks)
    foreach(block ${blocks})
      string(REPLACE "|" ";" parts "${block}")
      list(GET parts 0 path)
      list(GET parts 1 info)
      list(GET parts 2 line)
      get_filename_component(name ${path} NAME)
      if(NOT info STREQUAL "cmake" AND NOT info STREQUAL "sh installed")
        continue()
      endif()
      message(STATUS "${doc}:${line}: ${info}")
      set(work ${dir}/${name})
      file(MAKE_DIRECTORY ${work})
      file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/consumer.cpp ${work}/app.cpp)
      file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/c_consumer.c ${work}/app.c)
      file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/ipasir_consumer.c ${work}/ipasir_app.c)
      if(info STREQUAL "cmake")
        file(COPY_FILE ${path} ${work}/CMakeLists.txt)
        run(${CMAKE_COMMAND} -S ${work} -B ${work}/build -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
            -DCMAKE_C_COMPILER=${CC} -DCMAKE_BUILD_TYPE=Release)
        run(${CMAKE_COMMAND} --build ${work}/build)
        run(${work}/build/app)
      else()
        execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH "PATH=${dir}/bin:$ENV{PATH}"
                                "PKG_CONFIG_PATH=${prefix}/${libdir}/pkgconfig" bash -eu -o pipefail ${path}
                        WORKING_DIRECTORY ${work} RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
          message(FATAL_ERROR "${doc}:${line}: the block failed (${status})")
        endif()
      endif()
      math(EXPR run_blocks "${run_blocks} + 1")
    endforeach()
  endforeach()
  if(run_blocks EQUAL 0)
    message(FATAL_ERROR "no `cmake` or `sh installed` block in README.md or docs/")
  endif()
endfunction()

find_program(PKG_CONFIG pkg-config REQUIRED)
run(${CMAKE_COMMAND} --install ${NUBRIX_BINARY_DIR} --prefix ${prefix})

# The installed program finds the installed libraries by itself, and answers with status 10.
if(NUBRIX_CLI)
  file(WRITE ${WORK_DIR}/two.cnf "p cnf+ 3 2\n1 2 3 <= 1\n2 0\n")
  execute_process(COMMAND ${prefix}/bin/nubrix -q ${WORK_DIR}/two.cnf OUTPUT_VARIABLE answer RESULT_VARIABLE status)
  if(NOT status EQUAL 10 OR NOT answer STREQUAL "s SATISFIABLE\n")
    message(FATAL_ERROR "installed nubrix answered '${answer}' with status ${status}")
  endif()
endif()

consume(${prefix} ${LIBDIR} plain)

run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/subdirectory -B ${WORK_DIR}/subdirectory
    -DNUBRIX_SOURCE_DIR=${NUBRIX_SOURCE_DIR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC}
    -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/subdirectory)
foreach(program consumer c_consumer ipasir_consumer ipasir_static_consumer)
  run(${WORK_DIR}/subdirectory/${program})
endforeach()
if(NUBRIX_DIMACS)
  run(${WORK_DIR}/subdirectory/dimacs_consumer)
endif()

# The libraries alone, built without optimisation to save time, installed under lib/<triplet>. Their
# pkg-config files sit one level deeper below the prefix, and find_package looks in lib/<triplet>
# only where the compiler names a library architecture.
if(ARCH)
  set(multiarch ${WORK_DIR}/multiarch)
  run(${CMAKE_COMMAND} -S ${NUBRIX_SOURCE_DIR} -B ${multiarch}/build -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC}
      -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 -DCMAKE_INSTALL_LIBDIR=lib/${ARCH}
      -DNUBRIX_BUILD_TESTS=OFF -DNUBRIX_BUILD_EXAMPLES=OFF -DNUBRIX_BUILD_TOOLS=OFF -DNUBRIX_BUILD_DIMACS=${NUBRIX_DIMACS})
  run(${CMAKE_COMMAND} --build ${multiarch}/build)
  run(${CMAKE_COMMAND} --install ${multiarch}/build --prefix ${multiarch}/prefix)
  consume(${multiarch}/prefix lib/${ARCH} multiarch)
else()
  message(STATUS "no library architecture: the multiarch install is not tried")
endif()
