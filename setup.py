# The extension px77xx._px77xx, built by the project's own CMake build for the
# interpreter that runs this (pip's): the same libraries, warnings and options
# as pxctl, with no windows, tests or benchmarks. pyproject.toml holds the rest.
import glob
import hashlib
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def version() -> str:
    found = re.search(r"project\(px77xx VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    if found is None:
        raise RuntimeError("CMakeLists.txt names no version in project(px77xx VERSION ...)")
    return found.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        # A build tree of its own for each interpreter: a second Python must
        # never link against the first one's cache.
        tag = hashlib.sha256(sys.executable.encode()).hexdigest()[:12]
        tree = Path(self.build_temp).resolve() / f"cmake-{tag}"
        configure = ["cmake", "-S", str(ROOT), "-B", str(tree), "-DCMAKE_BUILD_TYPE=Release",
                     "-DPX_BUILD_UI=OFF", "-DPX_BUILD_TESTS=OFF", "-DPX_BUILD_BENCH=OFF", "-DPX_BUILD_PYTHON=ON",
                     f"-DPython3_EXECUTABLE={sys.executable}"]
        try:
            import pybind11  # the interpreter's own pybind11 where it has one; else CMake finds the system's
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(tree), "--target", "_px77xx", "--parallel", jobs], check=True)
        built = glob.glob(str(tree / "python" / "px77xx" / "_px77xx*"))
        if len(built) != 1:
            raise RuntimeError(f"the CMake build made {built or 'no extension'} in {tree / 'python' / 'px77xx'}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


setup(version=version(), ext_modules=[Extension("px77xx._px77xx", sources=[])], cmdclass={"build_ext": CMakeBuild})
