"""RackSim's sample rack over loopback, for the binding's tests.

press-line (number 1) is at 127.0.0.2, packer (2) at 127.0.0.3 and conveyor-node (3) at
127.0.0.4. The transport is bound to 127.0.0.1, so the broadcasts stay on loopback. Each test
file starts a RackSim of its own, so that what one file writes to the modules does not reach
another.
"""
import os
import subprocess
import sys
import tempfile
import time

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "python"))

import zeb  # noqa: E402

RACKSIM = os.environ.get("RACKSIM", os.path.join(ROOT, "build", "release", "tools", "racksim",
                                                 "RackSim"))
SAMPLE = os.path.join(ROOT, "tools", "racksim", "racks", "sample.json")


def _port_open():
    with open("/proc/net/udp") as f:
        return any(":7070 " in line.split()[1] + " " for line in f.readlines()[1:])


@pytest.fixture(scope="module")
def racksim():
    """A RackSim playing the sample rack; yields the folder of the controller module's files."""
    if not os.path.exists(RACKSIM):
        pytest.skip("RackSim is not built")
    # The controller module's files go to a folder of the run's own, not the one in the tree.
    files = tempfile.TemporaryDirectory()
    proc = subprocess.Popen([RACKSIM, "--rack", SAMPLE, "--controller-root", files.name],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if _port_open():
            break
        time.sleep(0.05)
    yield files.name
    proc.terminate()
    proc.wait(5)
    files.cleanup()


@pytest.fixture
def transport(racksim):
    with zeb.Transport(local="127.0.0.1") as t:
        yield t
