"""Builds the Python module nubrix with the library's sources compiled in (pip install --no-build-isolation .)."""
import re
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

# The version and the library's sources as CMakeLists.txt states them, so that both builds agree; the
# library is built with its version string defined, as CMake does.
cmake = (Path(__file__).parent / "CMakeLists.txt").read_text()
version = re.search(r"project\(nubrix VERSION (\S+)", cmake).group(1)
sources = re.search(r"set\(NUBRIX_SOURCES([^)]*)\)", cmake).group(1).split()

ParallelCompile("NUBRIX_BUILD_JOBS").install()  # the sources compiled in parallel, one job per processor

setup(
    name="nubrix",
    version=version,
    description="A small conflict-driven Boolean satisfiability library",
    ext_modules=[Pybind11Extension("nubrix", ["python/nubrix_module.cpp", *sources], include_dirs=["include"],
                                   define_macros=[("NUBRIX_VERSION_STRING", f'"{version}"')], cxx_std=20)],
    cmdclass={"build_ext": build_ext},
    zip_safe=False,
)
