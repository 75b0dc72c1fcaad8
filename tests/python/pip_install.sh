#!/usr/bin/env bash
# The module installed as Python users install things, from a copy of the
# source tree as a clean checkout has it, with no network:
#  1. Debian's Python: a venv that borrows Debian's setuptools, wheel and
#     pybind11 (--system-site-packages), `pip install --no-build-isolation .`,
#     the module's whole pytest suite against the installed copy, from outside
#     the source tree;
#  2. `pip wheel .`, installed into a venv with nothing of Debian's, whose
#     metadata pip reads back;
#  3. a second CPython where this machine has one (PX_SECOND_PYTHON, or the
#     first python3 on PATH when it is not Debian's): the same install, built
#     for it.
# usage: pip_install.sh SOURCE_DIR PXCTL
set -euo pipefail
source_dir=$1
pxctl=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset PYTHONPATH PX77XX_PORT
export XDG_CONFIG_HOME="$work/config"  # the tester's own default port is not the tests'
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INDEX=1 PYTHONDONTWRITEBYTECODE=1
mkdir "$work/src"
tar -C "$source_dir" --exclude=./build --exclude=./.git --exclude='*.egg-info' -cf - . | tar -C "$work/src" -xf -
version=$("$pxctl" -V | cut -d' ' -f2)
cd "$work"

# What an interpreter sees of the installed module: where it is, its two
# versions, and an action on the simulated board.
check() {
  "$1" - "$version" <<'PYTHON'
import importlib.metadata, sys, px77xx
prefix = sys.prefix
assert px77xx.__file__.startswith(prefix + "/"), (px77xx.__file__, prefix)
assert px77xx.__version__ == importlib.metadata.version("px77xx") == sys.argv[1], px77xx.__version__
with px77xx.open(port="sim") as pot:
    pot.set(2, 99)
    assert pot.get() == 99
print(f"{sys.executable} {sys.version.split()[0]}: px77xx {px77xx.__version__} from {px77xx.__file__}")
PYTHON
}

echo "== 1. pip install into a venv of Debian's Python"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install -q --no-build-isolation "$work/src"
check "$work/venv/bin/python"
"$work/venv/bin/python" -m pytest -q -p no:cacheprovider -W ignore::DeprecationWarning "$source_dir/tests/python"

echo "== 2. a wheel, into a venv with nothing of Debian's"
"$work/venv/bin/pip" wheel -q --no-build-isolation --no-deps -w "$work/dist" "$work/src"
wheel=$(echo "$work/dist/px77xx-$version"-cp3*-linux_*.whl)
/usr/bin/python3 -m zipfile -l "$wheel" | grep -q 'px77xx/py.typed'
/usr/bin/python3 -m zipfile -l "$wheel" | grep -q 'px77xx/__init__.pyi'
/usr/bin/python3 -m venv "$work/plain"
"$work/plain/bin/pip" install -q "$wheel"
check "$work/plain/bin/python"
shown=$("$work/plain/bin/pip" show px77xx)
for field in "Name: px77xx" "Version: $version" "License: MIT" "Summary: Set the wipers of PX7700/PX7702"; do
  grep -q "^$field" <<<"$shown" || { echo "pip show lacks '$field':"; echo "$shown"; exit 1; }
done
grep -q '^Classifier: Typing :: Typed' "$work/plain/lib/python3"*/site-packages/px77xx-"$version".dist-info/METADATA

echo "== 3. a second interpreter"
second=${PX_SECOND_PYTHON:-}
if [ -z "$second" ] && command -v python3 >/dev/null; then
  second=$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null || true)
  if [ "$(realpath "$second")" = "$(realpath /usr/bin/python3)" ]; then second=""; fi
fi
if [ -z "$second" ]; then
  echo "no second CPython here (PX_SECOND_PYTHON names one): left out"
  exit 0
fi
if ! "$second" -c 'import sys, sysconfig, os; assert sys.version_info >= (3, 9); assert os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h"))'; then
  echo "$second is older than 3.9 or has no Python.h: left out"
  exit 0
fi
"$second" -m venv "$work/other"
if ! "$work/other/bin/python" -c 'import wheel' 2>/dev/null; then
  # setuptools builds wheels with the wheel package, pure Python: with no
  # network, lend it Debian's, with the metadata that registers bdist_wheel.
  # pybind11 it need not have: CMake finds the system's.
  mkdir "$work/lent"
  ln -s /usr/lib/python3/dist-packages/wheel /usr/lib/python3/dist-packages/wheel-*.*-info "$work/lent/"
  export PYTHONPATH="$work/lent"
fi
"$work/other/bin/pip" install -q --no-build-isolation "$work/src"
unset PYTHONPATH
check "$work/other/bin/python"
