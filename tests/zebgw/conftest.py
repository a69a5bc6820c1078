import shutil
import subprocess
import sys

import pytest

sys.path.insert(0, __file__.rsplit("/", 1)[0])
import harness  # noqa: E402


def _missing():
    for tool in ("mosquitto", "mosquitto_passwd", "openssl", "protoc"):
        if not shutil.which(tool):
            return tool
    for name, path in (("ZEBGW", harness.ZEBGW), ("RACKSIM", harness.RACKSIM), ("ZEB", harness.ZEB)):
        if not path:
            return f"the {name} environment variable"
    return None


def pytest_collection_modifyitems(config, items):
    missing = _missing()
    if missing:
        skip = pytest.mark.skip(reason=f"no {missing}: the gateway tests need a real mosquitto "
                                       "(scripts/install-deps installs it)")
        for item in items:
            if "needs_broker" in item.keywords:
                item.add_marker(skip)


def pytest_configure(config):
    config.addinivalue_line("markers", "needs_broker: runs mosquitto, RackSim and zebgw")


@pytest.fixture(scope="session")
def pb(tmp_path_factory):
    return harness.sparkplug_module(tmp_path_factory.mktemp("pb"))


@pytest.fixture
def broker(tmp_path):
    d = tmp_path / "broker"
    d.mkdir()
    b = harness.Broker(d)
    yield b
    b.stop()


@pytest.fixture
def rack(tmp_path):
    r = harness.Rack(tmp_path)
    yield r
    r.stop()


@pytest.fixture
def parts(tmp_path, broker, rack):
    """Broker, rack and a list of gateways and subscribers that are stopped at the end."""
    started = []
    yield broker, rack, started
    for thing in reversed(started):
        if isinstance(thing, harness.Gateway):
            thing.stop()
            # Under the sanitizers a finding is printed, and may not end the process.
            out = thing.output()
            assert "Sanitizer" not in out and "runtime error" not in out, out
        else:
            thing.close()
