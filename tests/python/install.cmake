# Installs the Python module as the README says, with pip into a virtual environment that sees the
# system's pybind11, from a copy of the sources (pip builds in the tree it is given), then solves
# with the installed module.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/source)
foreach(item setup.py pyproject.toml CMakeLists.txt include src python)
  file(COPY ${NUBRIX_SOURCE_DIR}/${item} DESTINATION ${WORK_DIR}/source)
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../run_command.cmake)

run(${PYTHON} -m venv --system-site-packages ${WORK_DIR}/venv)
run(${WORK_DIR}/venv/bin/pip install -q --no-build-isolation --no-index --no-cache-dir ${WORK_DIR}/source)
run(${WORK_DIR}/venv/bin/python -c "import nubrix; assert nubrix.solve([[-1, 2], [-2, -3]]) == [1, 2, -3]")
# The wheel holds the module and its metadata, nothing else.
run(${WORK_DIR}/venv/bin/python -c "import importlib.metadata
files = [str(f) for f in importlib.metadata.files('nubrix')]
assert all(f.startswith('nubrix') for f in files), files")
