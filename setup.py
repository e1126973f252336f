"""Builds the wheel's extension module with the project's CMake build.

The version is CMakeLists.txt's, so that the wheel, the libraries, the
Debian packages and the MSIs always carry the same one. MORVIK_BUILD_DIR
names a configured build tree (such as build/dev) whose module is built, or
found up to date, there; without it the module is built in a tree of its own
under setuptools' build directory, for this interpreter, with nothing else of
the project (no tool, tests or benchmark).

The module is the package's __init__ (morvik/__init__.<abi>.so): the import
name stays `morvik`, and the package carries py.typed and the stubs as
__init__.pyi, which type checkers only read inside a package.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(morvik VERSION ([0-9]+\.[0-9]+\.[0-9]+)", text)
    if not match:
        sys.exit("setup.py: no version in CMakeLists.txt's project()")
    return match.group(1)


class StubsBuild(build_py):
    """The stubs, kept as python/morvik.pyi, become the package's __init__.pyi."""

    def run(self):
        super().run()
        target = pathlib.Path(self.build_lib) / "morvik" / "__init__.pyi"
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(ROOT / "python" / "morvik.pyi", target)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        tree = os.environ.get("MORVIK_BUILD_DIR")
        if tree:
            tree = pathlib.Path(tree).resolve()
            if not (tree / "CMakeCache.txt").is_file():
                sys.exit(f"setup.py: MORVIK_BUILD_DIR={tree} is not a configured build tree")
        else:
            tree = pathlib.Path(self.build_temp).resolve() / "cmake"
            options = ["-DCMAKE_BUILD_TYPE=Release", f"-DMORVIK_PYTHON={sys.executable}"]
            try:  # pybind11 of the build environment (pip's isolation), else pybind11-dev's
                import pybind11
                options.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
            except ImportError:
                pass
            for part in ("TESTS", "CLI", "BENCH", "EXAMPLES"):
                options.append(f"-DMORVIK_BUILD_{part}=OFF")
            options.append("-DMORVIK_INSTALL=OFF")
            if shutil.which("ninja"):
                options += ["-G", "Ninja"]
            subprocess.run(["cmake", "-S", str(ROOT), "-B", str(tree), *options], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(tree), "--target", "morvik_python", "-j", jobs], check=True)
        built = tree / "python" / "module" / "morvik" / ("__init__" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not built.is_file():
            sys.exit(f"setup.py: {tree} built no module for {sys.executable} ({built})")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


# Built from a configured tree, setuptools' own files go there too, not into
# the source tree.
options = {}
if os.environ.get("MORVIK_BUILD_DIR"):
    base = pathlib.Path(os.environ["MORVIK_BUILD_DIR"]).resolve() / "python" / "setuptools"
    base.mkdir(parents=True, exist_ok=True)
    options = {"build": {"build_base": str(base)}, "egg_info": {"egg_base": str(base)}}

setup(
    version=project_version(),
    options=options,
    packages=["morvik"],
    package_dir={"morvik": "python/morvik"},
    package_data={"morvik": ["py.typed"]},
    ext_modules=[Extension("morvik.__init__", sources=[])],
    cmdclass={"build_ext": CMakeBuild, "build_py": StubsBuild},
    zip_safe=False,
)
