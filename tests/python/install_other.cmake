# Installs the Python module offline into a fresh virtual environment of an interpreter other than
# the system's (PYTHON), as the README says for one whose packages lack pybind11: setuptools and
# wheel from the wheels Debian ships, pybind11's headers from pybind11-dev. Then solves with the
# installed module. Skipped, saying so, when python3 on PATH is the system's interpreter.
set(skip "nubrix-test-skipped:")
find_program(other NAMES python3 NO_CACHE NO_CMAKE_PATH NO_CMAKE_ENVIRONMENT_PATH NO_CMAKE_SYSTEM_PATH)
if(other)
  execute_process(COMMAND ${other} -c "import os, sys; print(os.path.realpath(sys.executable))"
                  OUTPUT_VARIABLE other_real OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  execute_process(COMMAND ${PYTHON} -c "import os, sys; print(os.path.realpath(sys.executable))"
                  OUTPUT_VARIABLE system_real OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT other OR NOT status EQUAL 0 OR other_real STREQUAL system_real)
  message("${skip} no python3 on PATH but ${PYTHON}, which the test python_install covers")
  return()
endif()
message(STATUS "the interpreter: ${other} (${other_real})")

file(GLOB wheels /usr/share/python-wheels/setuptools-*.whl /usr/share/python-wheels/wheel-*.whl)
if(NOT wheels MATCHES "setuptools-" OR NOT wheels MATCHES "wheel-")
  message(FATAL_ERROR "/usr/share/python-wheels lacks setuptools or wheel: "
                      "apt-get install python3-setuptools-whl python3-wheel-whl")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/source)
foreach(item setup.py pyproject.toml CMakeLists.txt include src python)
  file(COPY ${NUBRIX_SOURCE_DIR}/${item} DESTINATION ${WORK_DIR}/source)
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../run_command.cmake)

set(venv ${WORK_DIR}/venv)
run(${other} -m venv ${venv})
run(${venv}/bin/pip install -q --no-index --find-links /usr/share/python-wheels setuptools wheel)
# The build must take pybind11's headers alone: the environment has no pybind11 package.
run(${venv}/bin/python -c "import importlib.util, sys; sys.exit(importlib.util.find_spec('pybind11') is not None)")
run(${venv}/bin/pip install -q --no-build-isolation --no-index --no-cache-dir ${WORK_DIR}/source)
run(${venv}/bin/python -c "import nubrix
with nubrix.Solver([[-1, 2], [-2, -3]]) as s:
    assert s.solve() is True and s.get_model() == [1, 2, -3]
    assert s.solve([-2, 1]) is False and s.get_core() == [-2, 1]")
# The wheel holds the module and its metadata, nothing else.
run(${venv}/bin/python -c "import importlib.metadata
files = [str(f) for f in importlib.metadata.files('nubrix')]
assert all(f.startswith('nubrix') for f in files), files")
