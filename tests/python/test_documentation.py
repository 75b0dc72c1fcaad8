# help(px77xx) reads like the man page; everything public has a docstring; the
# type stubs name exactly what the module has.
import ast
import inspect
import pydoc

import px77xx

PUBLIC = [name for name in dir(px77xx.Device) if not name.startswith("_")]


def test_help_reads_like_the_man_page():
    text = pydoc.render_doc(px77xx, renderer=pydoc.plaintext)
    for heading in ["NAME", "SYNOPSIS", "DESCRIPTION", "OPENING A PORT", "ACTIONS", "DISPLAYS", "ERRORS", "THREADS AND SIGNALS",
                    "SEE ALSO"]:
        assert "\n    " + heading in text or "\n" + heading in text, heading
    for name in PUBLIC + ["PortError", "NoDeviceAnswered", "BusStuck", "ConfigError"]:
        assert name in text, name


def test_everything_public_has_a_docstring():
    undocumented = [name for name in PUBLIC if not (getattr(px77xx.Device, name).__doc__ or "").strip()]
    undocumented += [name for name in px77xx.__all__ if not (getattr(px77xx, name).__doc__ or "").strip()]
    assert undocumented == []


def test_the_stubs_name_what_the_module_has():
    stubs = ast.parse(open(inspect.getfile(px77xx) + "i").read())
    classes = {node.name: node for node in stubs.body if isinstance(node, ast.ClassDef)}
    stubbed = {f.name for f in classes["Device"].body if isinstance(f, ast.FunctionDef) and not f.name.startswith("_")}
    assert stubbed == set(PUBLIC)
    top = {node.name for node in stubs.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    assert top == set(px77xx.__all__) | {"open"}
