"""The Python examples (examples/python) run against RackSim, as a newcomer runs them."""
import os
import re
import subprocess
import sys

import pytest

from conftest import ROOT

EXAMPLES = os.path.join(ROOT, "examples", "python")

# Arguments, the exit status, and what the output must hold (regular expressions).
RUNS = [
    (["read_inputs.py", "press-line"], 0,
     [r"^press-line at 127\.0\.0\.2 \(#1, Qx-RIO\)$", r"^slot 0 bits: 1 0 1 1 0 0 0 0 1( 0){7}$",
      r"^slot 4 words: \d+ 1200 2400 3600$", r"^slot 6 words, signed: \[77\]$"]),
    (["read_inputs.py"], 0, [r"^press-line at 127\.0\.0\.2"]),  # the first that answers
    (["read_inputs.py", "#42"], 3, [r"no module answers to '#42'"]),
    (["write_output.py", "press-line", "3", "bits", "6", "1"], 0,
     [r"^wrote slot 3 bits: \[0, 0, 0, 0, 0, 0, 1, 0\]$",
      r"^inputs of slot 1: \{'bits': \[0, 0, 0, 0, 0, 0, 1, 0\]\}$"]),
    (["write_output.py", "127.0.0.3", "0", "words", "1", "-300"], 0,
     [r"^wrote slot 0 words: \[0, 65236\]$", r"'words': \[0, 65236\]"]),
    (["write_output.py", "press-line", "3", "bits", "8", "1"], 2, [r"IndexError"]),
    (["write_output.py", "press-line", "3", "bytes", "0", "1"], 2, [r"KIND is bits"]),
    (["read_setup.py", "packer", "0x30"], 0, [r"^record types: .*0x0030", r"^0x0030: line A$"]),
    (["read_setup.py", "packer"], 0, [r"^0x0016: packer$"]),
    (["read_setup.py", "packer", "0x31"], 0, [r"^0x0031: 00 0a 01 ff$"]),
    (["read_setup.py", "packer", "0x99"], 1, [r"^no record 0x0099 \(status 0x8101\)$"]),
    # The read counter of slot 4 changes at every read; the first read shows every point.
    (["watch.py", "press-line", "--count", "3", "--interval", "10"], 0,
     [r"slot 0 bits\[8\]: 1$", r"(slot 4 words\[0\]: \d+ -> \d+\n.*){2}", r"^3 reads$"]),
    (["watch.py", "press-line", "--seconds", "0.2", "--interval", "20"], 0, [r"^\d+ reads$"]),
]


@pytest.mark.parametrize("args, status, patterns", RUNS, ids=[" ".join(r[0]) for r in RUNS])
def test_example(racksim, args, status, patterns):
    env = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "python"), ZEB_LOCAL="127.0.0.1")
    run = subprocess.run([sys.executable, os.path.join(EXAMPLES, args[0]), *args[1:]],
                         env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                         timeout=60)
    assert run.returncode == status, run.stdout
    for pattern in patterns:
        assert re.search(pattern, run.stdout, re.MULTILINE | re.DOTALL), (pattern, run.stdout)


def _readme_python():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        text = f.read()
    section = text[text.index("### Python\n"):]
    return section[section.index("```python\n") + 10: section.index("```\n", 10)]


def _package_docstring():
    import zeb

    lines = [line[4:] for line in zeb.__doc__.splitlines() if line.startswith("    ")]
    return "\n".join(lines)


@pytest.mark.parametrize("source", [_readme_python, _package_docstring],
                         ids=["README.md", "zeb.__doc__"])
def test_documented_fragment_runs(racksim, monkeypatch, capsys, source):
    monkeypatch.setenv("ZEB_LOCAL", "127.0.0.1")
    exec(compile(source(), source.__name__, "exec"), {})
    assert "[1, 0, 1, 1]" in capsys.readouterr().out
