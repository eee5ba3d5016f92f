"""The type hints of the module (morven.pyi): mypy --strict accepts them and
a typed use of the module, refuses misuses line by line, and they name
exactly what the module has, with the parameters its functions take."""

import ast
import inspect
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import morven

HERE = Path(__file__).resolve().parent
TYPED = HERE / "typed"
# The stub beside the module of the build: the one mypy finds there.
STUB = Path(morven.__file__).with_name("morven.pyi")

# The special methods the module defines and the stub must name.
DUNDERS = {"__iter__", "__next__", "__enter__", "__exit__", "__repr__", "__add__", "__radd__",
           "__getstate__", "__setstate__"}


def mypy(tmp_path, *files):
    pytest.importorskip("mypy", reason="mypy is not installed (Debian: python3-mypy)")
    env = dict(os.environ, MYPYPATH=str(STUB.parent))
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-error-summary",
                           "--cache-dir", str(tmp_path / "mypy-cache"), *map(str, files)],
                          capture_output=True, text=True, env=env, cwd=tmp_path)
    return done.returncode, done.stdout + done.stderr


def test_the_stub_is_beside_the_module():
    assert STUB.read_bytes() == (HERE.parent / "morven.pyi").read_bytes()


def test_mypy_strict_accepts_the_stub_and_a_typed_use(tmp_path):
    status, output = mypy(tmp_path, STUB, TYPED / "typed_usage.py")
    assert (status, output) == (0, "")


def test_mypy_strict_refuses_each_misuse(tmp_path):
    source = (TYPED / "typed_misuse.py").read_text().splitlines()
    marked = {i + 1 for i, line in enumerate(source) if "# error:" in line}
    status, output = mypy(tmp_path, TYPED / "typed_misuse.py")
    flagged = {int(n) for n in re.findall(r"typed_misuse\.py:(\d+): error:", output)}
    assert status == 1 and flagged == marked, output


def test_the_typed_use_runs(mvgen, tmp_path):
    paths = [mvgen("a.mv", "-k", "toatot", "-n", "5K"), mvgen("b.mv", "-k", "toatot", "-n", "3K")]
    done = subprocess.run([sys.executable, str(TYPED / "typed_usage.py"), str(tmp_path), *paths],
                          capture_output=True, text=True, check=True)
    first, report = done.stdout.split("\n", 1)
    stats = morven.statistics(paths)
    assert first == f"{stats.hits.sum()} {stats.hits.sum()}"
    assert "Total pixelpackets = 10240\n" in report


def stub_names():
    """The stub's public names, and for each class its members."""
    tree = ast.parse(STUB.read_text())
    names, members = set(), {}
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            names.add(node.target.id)
        elif isinstance(node, ast.Assign):
            names.update(t.id for t in node.targets)
        if isinstance(node, ast.ClassDef):
            members[node.name] = {n.name: n for n in node.body if isinstance(n, ast.FunctionDef)}
            members[node.name].update(
                (n.target.id, n) for n in node.body if isinstance(n, ast.AnnAssign))
    public = {n for n in names if not n.startswith("_") or n == "__version__"}
    functions = {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}
    # Functions of the same parameters, given as another's name.
    for node in tree.body:
        if isinstance(node, ast.Assign) and isinstance(node.value, ast.Name):
            functions.update((t.id, functions[node.value.id]) for t in node.targets)
    return public, members, functions


STUB_NAMES, STUB_MEMBERS, STUB_FUNCTIONS = stub_names()


def module_members(cls):
    return {n for n in vars(cls) if not n.startswith("_") or n in DUNDERS}


def test_the_stub_names_what_the_module_has():
    module = {n for n in vars(morven) if not n.startswith("_") or n == "__version__"}
    assert STUB_NAMES == module


@pytest.mark.parametrize("name", sorted(STUB_MEMBERS))
def test_the_stub_names_what_each_class_has(name):
    cls = getattr(morven, name)
    if issubclass(cls, BaseException):
        assert STUB_MEMBERS[name] == {}
        return
    assert set(STUB_MEMBERS[name]) == module_members(cls)


def parameters_of_stub(node):
    a = node.args
    names = [p.arg for p in a.posonlyargs + a.args if p.arg != "self"]
    if a.vararg:
        names.append("*" + a.vararg.arg)
    elif a.kwonlyargs:
        names.append("*")
    return names + [p.arg for p in a.kwonlyargs]


def parameters_of_module(obj):
    """The parameter names of pybind11's signature line, or of a Python
    function; None for a property."""
    if isinstance(obj, property) or type(obj).__name__ == "pybind11_property":
        return None
    obj = obj.__func__ if isinstance(obj, staticmethod) else obj
    line = (obj.__doc__ or "").splitlines()[0]
    match = re.match(r"^\w+\((.*)\) -> ", line)
    if not match:
        return [("*" if p.kind == p.VAR_POSITIONAL else "") + p.name
                for p in inspect.signature(obj).parameters.values() if p.name != "self"]
    names = []
    for part in match.group(1).split(", "):
        name = part.split(":")[0].split("=")[0].strip()
        if name not in ("self", ""):
            names.append(name)
    return names


def callables():
    for name, node in STUB_FUNCTIONS.items():
        yield name, node, getattr(morven, name)
    for cls, members in STUB_MEMBERS.items():
        for name, node in members.items():
            obj = inspect.getattr_static(getattr(morven, cls), name)
            if name != "__exit__" and not name.startswith("__"):
                yield f"{cls}.{name}", node, obj


CALLABLES = {name: (node, obj) for name, node, obj in callables()}


@pytest.mark.parametrize("name", sorted(CALLABLES))
def test_the_stub_takes_the_parameters_the_module_takes(name):
    node, obj = CALLABLES[name]
    module = parameters_of_module(obj)
    if module is None:
        # A read-only property: a Final attribute.
        assert isinstance(node, ast.AnnAssign) and ast.unparse(node.annotation).startswith("Final[")
    else:
        assert isinstance(node, ast.FunctionDef)
        assert parameters_of_stub(node) == module
