"""Builds the Python module nubrix with the library's sources compiled in.

With the package index reachable, `pip install .` fetches what the build needs. Offline,
`pip install --no-build-isolation --no-index .` builds with what the environment has: setuptools,
wheel (for setuptools before 70.1) and pybind11, either its Python package (whose build helpers are
then used) or its headers alone, such as Debian's pybind11-dev puts in /usr/include, which serve
any interpreter.
"""
import importlib.util
import os
import re
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import setuptools
from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext as setuptools_build_ext

# The version and the library's sources as CMakeLists.txt states them, so that both builds agree; the
# library is built with its version string defined, as CMake does.
cmake = (Path(__file__).parent / "CMakeLists.txt").read_text()
version = re.search(r"project\(nubrix VERSION (\S+)", cmake).group(1)
sources = re.search(r"set\(NUBRIX_SOURCES([^)]*)\)", cmake).group(1).split()
module_sources = ["python/nubrix_module.cpp", *sources]
macros = [("NUBRIX_VERSION_STRING", f'"{version}"')]

# The license, MIT, in the form this setuptools takes: an SPDX expression from 77 on, the plain
# field before (pyproject.toml lists it as dynamic for this).
setuptools_major = int(re.match(r"\d+", setuptools.__version__).group())
license_keyword = {"license_expression": "MIT"} if setuptools_major >= 77 else {"license": "MIT"}

# Setuptools before 70.1 makes wheels, and their metadata, with the wheel package's command.
wheel_commands = {"bdist_wheel", "dist_info"}
if wheel_commands & set(sys.argv[1:]) and not (importlib.util.find_spec("wheel") or
                                               importlib.util.find_spec("setuptools.command.bdist_wheel")):
    sys.exit(f"""error: building a wheel of nubrix with setuptools {setuptools.__version__} needs the package wheel,
which {sys.executable} lacks. Install it into that interpreter, then run pip again:
  with the package index reachable:  pip install wheel
                                     (or pip install . without --no-build-isolation: pip fetches it)
  offline on Debian or Ubuntu:       apt-get install python3-wheel-whl, then
                                     pip install --no-index --find-links /usr/share/python-wheels wheel""")


# Where pybind11's headers may be for an interpreter without pybind11's package: under its own
# prefix, where pip's pybind11[global] puts them, or among the system's headers.
header_dirs = list(dict.fromkeys([Path(sys.prefix) / "include", Path(sys.base_prefix) / "include",
                                  Path("/usr/local/include"), Path("/usr/include")]))


def pybind11_headers():
    """The first of header_dirs that holds pybind11/pybind11.h, or None."""
    return next((str(d) for d in header_dirs if (d / "pybind11" / "pybind11.h").is_file()), None)


class build_headers_only(setuptools_build_ext):
    """Compiles as C++20 with the module's symbols hidden, the sources in parallel (NUBRIX_BUILD_JOBS,
    default one job per processor), for a build without pybind11's helpers."""

    def build_extensions(self):
        msvc = self.compiler.compiler_type == "msvc"
        for ext in self.extensions:
            ext.extra_compile_args += ["/std:c++20"] if msvc else ["-std=c++20", "-fvisibility=hidden"]
        jobs = int(os.environ.get("NUBRIX_BUILD_JOBS") or os.cpu_count() or 1)
        compile_sources = self.compiler.compile

        def compile_in_parallel(sources, *args, **kwargs):
            with ThreadPoolExecutor(jobs) as pool:
                objects = pool.map(lambda source: compile_sources([source], *args, **kwargs), sources)
                return [o for one in objects for o in one]

        self.compiler.compile = compile_in_parallel
        super().build_extensions()


try:
    from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
except ImportError:
    headers = pybind11_headers()
    if headers is None:
        sys.exit(f"""error: building nubrix needs pybind11 (2.10 or later), and {sys.executable}
has neither its package nor its headers (pybind11/pybind11.h in {", ".join(map(str, header_dirs))}).
Any one of these gives it:
  with the package index reachable:  pip install .
                                     (without --no-build-isolation: pip fetches pybind11 for the build)
  offline:                           install pybind11 into that interpreter from a wheel or source at
                                     hand (pip install pybind11-VERSION.whl), then
                                     pip install --no-build-isolation --no-index .
  on Debian or Ubuntu:               apt-get install pybind11-dev (its headers serve any interpreter;
                                     python3-pybind11 adds the package for /usr/bin/python3), then
                                     pip install --no-build-isolation --no-index .""")
    extension = Extension("nubrix", module_sources, include_dirs=["include", headers], define_macros=macros,
                          language="c++")
    commands = {"build_ext": build_headers_only}
else:
    ParallelCompile("NUBRIX_BUILD_JOBS").install()  # the sources compiled in parallel, one job per processor
    extension = Pybind11Extension("nubrix", module_sources, include_dirs=["include"], define_macros=macros,
                                  cxx_std=20)
    commands = {"build_ext": build_ext}

# packages=[]: the module is the extension alone, not the sources that setuptools would otherwise
# take for packages.
setup(version=version, ext_modules=[extension], cmdclass=commands, packages=[], zip_safe=False, **license_keyword)
