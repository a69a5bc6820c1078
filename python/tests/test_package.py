"""The binding as a package: it installs offline into a venv and runs from there, and every
public name says what it is."""
import inspect
import os
import re
import shutil
import subprocess
import sys

import pytest

import zeb
from conftest import ROOT

PYTHON_DIR = os.path.join(ROOT, "python")


def _run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=300, **kw)


@pytest.fixture(scope="module")
def venv(tmp_path_factory):
    """A venv with the system's packages (setuptools, pytest) and this package installed by
    pip, offline, from a copy of python/ (so the tree gets no build files)."""
    where = tmp_path_factory.mktemp("venv")
    made = _run([sys.executable, "-m", "venv", "--system-site-packages", str(where / "env")])
    if made.returncode != 0:
        pytest.skip("no venv here (install python3-venv): " + made.stdout.strip())
    python = str(where / "env" / "bin" / "python")
    if _run([python, "-m", "pip", "--version"]).returncode != 0:
        pytest.skip("no pip in the venv (install python3-pip)")
    builds = "import setuptools\ntry:\n import wheel\nexcept ImportError:\n" \
             " from setuptools.command import bdist_wheel"
    if _run([python, "-c", builds]).returncode != 0:
        pytest.skip("nothing to build a wheel offline (install python3-setuptools "
                    "and python3-wheel)")
    source = where / "source"
    shutil.copytree(PYTHON_DIR, source, ignore=shutil.ignore_patterns(
        "build", "*.egg-info", "__pycache__", "tests"))
    installed = _run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index",
                      str(source)])
    assert installed.returncode == 0, installed.stdout
    return python


def test_installed_package_runs_an_example(venv, racksim):
    library = zeb.library_path()
    env = dict(os.environ, ZEB_LIBRARY=library, ZEB_LOCAL="127.0.0.1")
    env.pop("PYTHONPATH", None)
    where = _run([venv, "-c", "import os, zeb; print(os.path.dirname(zeb.__file__)); "
                  "print(zeb.library_path())"], env=env, cwd="/")
    package, loaded = where.stdout.split()
    assert "site-packages" in package and loaded == library
    assert os.path.exists(os.path.join(package, "py.typed"))
    run = _run([venv, os.path.join(ROOT, "examples", "python", "read_inputs.py"), "packer"],
               env=env, cwd="/")
    assert run.returncode == 0 and "packer at 127.0.0.3" in run.stdout, run.stdout


def test_installed_package_finds_the_library_by_explicit_path_or_says_how(venv):
    env = {k: v for k, v in os.environ.items() if k not in ("ZEB_LIBRARY", "PYTHONPATH")}
    explicit = _run([venv, "-c", f"import zeb; print(zeb.load_library({zeb.library_path()!r}))"],
                    env=env, cwd="/")
    assert explicit.returncode == 0 and explicit.stdout.strip() == zeb.library_path()
    import ctypes.util
    if ctypes.util.find_library("zeb32_3") is None:  # not installed on this system
        missing = _run([venv, "-c", "import zeb; zeb.Transport()"], env=env, cwd="/")
        assert missing.returncode != 0 and "set ZEB_LIBRARY" in missing.stdout


def test_package_version_is_the_project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        project = re.search(r"project\(zeb VERSION ([\d.]+)", f.read()).group(1)
    with open(os.path.join(PYTHON_DIR, "pyproject.toml")) as f:
        assert re.search(r'^version = "([\d.]+)"$', f.read(), re.MULTILINE).group(1) == project


def _public(obj):
    """The public names of a class that it defines itself (not those of object or tuple)."""
    for name, member in vars(obj).items():
        if name.startswith("_") or not (inspect.isfunction(member) or
                                        isinstance(member, (property, classmethod))):
            continue
        yield name, member


def test_every_public_name_has_a_docstring():
    undocumented = []
    for name in zeb.__all__:
        obj = getattr(zeb, name)
        if inspect.isclass(obj) or inspect.isfunction(obj):
            if not inspect.getdoc(obj):
                undocumented.append(name)
        if inspect.isclass(obj):
            for member_name, member in _public(obj):
                target = member.__func__ if isinstance(member, classmethod) else member
                if not target.__doc__:
                    undocumented.append(f"{name}.{member_name}")
    assert not undocumented
    assert zeb.__doc__ and "read_inputs" in zeb.__doc__


def test_type_hints_hold():
    try:
        import mypy  # noqa: F401
    except ImportError:
        pytest.skip("no type checker here (install mypy)")
    checked = _run([sys.executable, "-m", "mypy", "--strict", "--cache-dir", os.devnull, "zeb"],
                   cwd=PYTHON_DIR)
    assert checked.returncode == 0, checked.stdout
