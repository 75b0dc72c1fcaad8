# What the Python tests need from the build, given by ctest in the environment.
import os
import shutil
import subprocess

import pytest


@pytest.fixture(scope="session")
def pxctl():
    return os.environ["PXCTL"]


@pytest.fixture
def slow_library(tmp_path):
    """A fresh copy of the test port library: each copy loads afresh, with its
    own count of writes and its own lock."""
    def copy(name="libslow.so"):
        path = tmp_path / name
        shutil.copyfile(os.environ["SLOW_PORT_LIBRARY"], path)
        return str(path)
    return copy


def run_pxctl(pxctl, arguments, stdin=None, env=None):
    return subprocess.run([pxctl, *arguments], input=stdin, capture_output=True, text=True,
                          env={**os.environ, **(env or {})}, timeout=60)
