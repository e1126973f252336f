"""The stubs and the docstrings: what help(morvik) and a type checker see."""
import inspect
import os
import shutil
import subprocess
import sys

import pytest

import morvik

HERE = os.path.dirname(os.path.abspath(__file__))
STUBS = os.path.join(HERE, "..", "morvik.pyi")


def public(obj):
    return [n for n in dir(obj) if not n.startswith("_")]


def test_every_function_and_member_has_a_docstring():
    missing = [n for n in public(morvik) if callable(getattr(morvik, n)) and not inspect.getdoc(getattr(morvik, n))]
    missing += [f"RC2.{n}" for n in public(morvik.RC2) if not inspect.getdoc(getattr(morvik.RC2, n))]
    # pybind11 writes the signature as the first line; a docstring follows it.
    if not "".join((morvik.RC2.__init__.__doc__ or "").strip().split("\n")[1:]).strip():
        missing.append("RC2.__init__")
    assert inspect.getdoc(morvik) and "RC2" in inspect.getdoc(morvik)
    assert missing == []


def test_the_stubs_name_what_the_module_has():
    text = open(STUBS, encoding="utf-8").read()
    for name in public(morvik):
        assert f"def {name}(" in text or f"class {name}(" in text or f"class {name}:" in text \
            or f"{name}:" in text, name
    for name in public(morvik.RC2):
        assert f"def {name}(" in text, f"RC2.{name}"


def test_the_stubs_need_only_the_standard_library():
    text = open(STUBS, encoding="utf-8").read()
    imported = {line.split()[1].split(".")[0] for line in text.splitlines()
                if line.lstrip().startswith(("import ", "from "))}
    assert imported <= set(sys.stdlib_module_names), imported - set(sys.stdlib_module_names)


def mypy(path, stubs_dir):
    env = dict(os.environ, MYPYPATH=stubs_dir)
    return subprocess.run([shutil.which("mypy"), "--no-incremental", "--cache-dir", os.devnull, "--strict",
                           "--python-version", f"{sys.version_info[0]}.{sys.version_info[1]}", path],
                          env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


@pytest.mark.skipif(shutil.which("mypy") is None, reason="mypy is not installed (Debian: mypy)")
def test_mypy_accepts_a_sample_and_refuses_wrong_calls(tmp_path):
    # The stubs alone, as a type checker finds them beside the module.
    shutil.copy(STUBS, tmp_path / "morvik.pyi")
    good = mypy(os.path.join(HERE, "typing", "sample.py"), str(tmp_path))
    assert good.returncode == 0, good.stdout
    bad = mypy(os.path.join(HERE, "typing", "wrong.py"), str(tmp_path))
    assert bad.returncode == 1, bad.stdout
    assert bad.stdout.count("error:") == 3, bad.stdout
