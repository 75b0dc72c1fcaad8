# The type stubs against the module itself (mypy's stubtest), and the README's
# example as a script would be checked and run.
import os
import pathlib
import re
import subprocess
import sys

import px77xx

SOURCE = pathlib.Path(__file__).resolve().parents[2]


def readme_example():
    text = (SOURCE / "README.md").read_text()
    section = text[text.index("## Scripting in Python"):]
    block = re.search(r"\n((?:    .*\n)+)", section).group(1)
    assert block.startswith("    import px77xx\n")
    return "\n".join(line[4:] for line in block.splitlines()) + "\n"


def mypy_environment(tmp_path):
    environment = {**os.environ, "MYPY_CACHE_DIR": str(tmp_path / "cache")}
    package = pathlib.Path(px77xx.__file__).parent.parent
    if package.name not in ("site-packages", "dist-packages"):  # a build tree: mypy looks there by MYPYPATH
        environment["MYPYPATH"] = str(package)
    return environment


def test_the_stubs_match_the_module(tmp_path):
    run = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--allowlist",
                          str(SOURCE / "python" / "stubtest-allowlist.txt"), "px77xx"],
                         capture_output=True, text=True, env=mypy_environment(tmp_path), cwd=tmp_path, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr


def test_the_readme_example_passes_mypy_strict_and_prints_what_it_says(tmp_path):
    script = tmp_path / "example.py"
    script.write_text(readme_example())
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", str(script)], capture_output=True, text=True,
                         env=mypy_environment(tmp_path), cwd=tmp_path, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    printed = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, cwd=tmp_path, timeout=60)
    promised = re.search(r"# (255 255 \(255, 128\))", readme_example()).group(1)
    assert printed.stdout == promised + "\n", printed.stderr


def test_mypy_catches_what_the_stubs_forbid(tmp_path):
    script = tmp_path / "wrong.py"
    script.write_text("import px77xx\n"
                      "with px77xx.open(port='sim') as pot:\n"
                      "    pot.actions(b'set 1 5')\n"
                      "    pot.board.wipers\n"
                      "    level: str = pot.read()\n")
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", str(script)], capture_output=True, text=True,
                         env=mypy_environment(tmp_path), cwd=tmp_path, timeout=300)
    for line in (3, 4, 5):
        assert f"wrong.py:{line}: error" in run.stdout, run.stdout
