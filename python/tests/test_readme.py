"""The README's Python example runs as written, and cmake --install puts the
module where the system's interpreter finds it."""

import os
import subprocess
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[2] / "README.md"
INTERPRETER = "/usr/bin/python3"


def readme_example():
    """The indented code block of the README's Python section that starts
    with 'import morven'."""
    lines = README.read_text().split("\n## Python")[1].split("\n## ")[0].splitlines()
    start = lines.index("    import morven, matplotlib.pyplot as plt")
    block = []
    for line in lines[start:]:
        if not line.startswith("    "):
            break
        block.append(line[4:])
    return "\n".join(block)


def test_readme_example_plots_the_hits(mvgen, tmp_path, monkeypatch):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    example = readme_example()
    assert len(example.splitlines()) == 5
    mvgen("run.mv", "-k", "toatot", "-n", "200K")
    monkeypatch.chdir(tmp_path)
    exec(compile(example, "README.md", "exec"), {})
    assert (tmp_path / "hits.png").stat().st_size > 10000


@pytest.mark.skipif(not os.environ.get("MVSCAN_BUILD_DIR"), reason="needs the build tree")
@pytest.mark.parametrize("prefix", ["/usr/local", "/usr"])
def test_install_puts_the_module_on_the_interpreters_path(tmp_path, prefix):
    # Installed into a staging folder; the module must land in a folder that
    # the system's interpreter searches.
    stage = tmp_path / "stage"
    env = dict(os.environ, DESTDIR=str(stage))
    subprocess.run([os.environ.get("MVSCAN_CMAKE", "cmake"), "--install", os.environ["MVSCAN_BUILD_DIR"], "--prefix", prefix],
                   env=env, check=True, capture_output=True)
    [module] = stage.rglob("morven*.so")
    folder = "/" + str(module.parent.relative_to(stage))
    search = subprocess.run([INTERPRETER, "-c", "import sys; print('\\n'.join(sys.path))"],
                            env={}, check=True, capture_output=True, text=True).stdout.split()
    assert folder in search
    imported = subprocess.run([INTERPRETER, "-c", "import morven; print(morven.__file__)"],
                              env={"PYTHONPATH": str(module.parent)}, cwd=tmp_path,
                              check=True, capture_output=True, text=True)
    assert imported.stdout.strip() == str(module)
    # The type hints are installed beside the module, and as the stub
    # package that mypy reads.
    stub = (Path(__file__).resolve().parents[1] / "morven.pyi").read_bytes()
    assert module.with_name("morven.pyi").read_bytes() == stub
    assert (module.parent / "morven-stubs" / "__init__.pyi").read_bytes() == stub
