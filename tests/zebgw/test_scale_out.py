"""Four gateways as four edge nodes on one broker, over one RackSim playing four blocks of 256
modules (RackSim serves one module port per network, so the four racks share a process): a
subscriber sees every node and every module, and a gateway's death is its own."""

import json
import signal
import subprocess
import time

import pytest

import harness
from harness import Subscriber, wait_until

SP = "spBv1.0/plant/"
GATEWAYS, PER_GATEWAY = 4, 256


def address(i):
    return f"127.1.{i // 250}.{i % 250 + 1}"


@pytest.fixture
def big_rack(tmp_path):
    # One word input that counts every read, so that every module has news every cycle.
    slots = [{"slot": 0, "record": {"kind": 1, "id": 48, "word_in": 1}, "counter": True}]
    modules = [{"name": f"m{i}", "number": i + 1, "address": address(i), "slots": slots}
               for i in range(GATEWAYS * PER_GATEWAY)]
    rack = tmp_path / "rack.json"
    rack.write_text(json.dumps({"modules": modules}))
    log = tmp_path / "racksim.log"
    with open(log, "wb") as out:
        proc = subprocess.Popen([harness.RACKSIM, "--rack", str(rack)], stdout=out,
                                stderr=subprocess.STDOUT)
        wait_until(lambda: b"serving" in log.read_bytes(), 20, "RackSim to serve")
        yield
        proc.terminate()
        proc.wait(10)


@pytest.mark.needs_broker
def test_four_gateways_share_a_broker(tmp_path, broker, big_rack):
    sub = Subscriber(broker, [SP + "#"], client_id="scale-watcher")
    procs = []
    try:
        for g in range(GATEWAYS):
            d = tmp_path / f"gw{g}"
            d.mkdir()
            pw = d / "password"
            pw.write_text(harness.PASSWORD)
            modules = "".join(f'[[module]]\nid = "m{i}"\nfind = "{address(i)}"\nscan = "s"\n'
                              for i in range(g * PER_GATEWAY, (g + 1) * PER_GATEWAY))
            config = d / "zebgw.toml"
            config.write_text(f"""\
[gateway]
name = "gw{g}"
local = "127.0.0.1"
health = ""
timeout_ms = 100
retries = 2
search_max_ms = 1000
[broker]
url = "mqtts://127.0.0.1:{broker.tls_port}"
username = "{harness.USER}"
password_file = "{pw}"
ca_file = "{broker.dir / 'ca.crt'}"
[sparkplug]
group = "plant"
[scan.s]
period_ms = 500
{modules}""")
            log = open(d / "zebgw.log", "wb")
            procs.append(subprocess.Popen([harness.ZEBGW, str(config)], stdout=log,
                                          stderr=subprocess.STDOUT))

        def births():
            return {t for _, t, _ in list(sub.messages) if "/DBIRTH/" in t}
        wait_until(lambda: len(births()) == GATEWAYS * PER_GATEWAY, 120,
                   lambda: f"every module's DBIRTH ({len(births())} of {GATEWAYS * PER_GATEWAY})")
        nodes = {t.split("/")[3] for _, t, _ in list(sub.messages) if "/NBIRTH/" in t}
        assert nodes == {f"gw{g}" for g in range(GATEWAYS)}

        # A gateway that stops says its own death; one that is killed has the broker say it.
        stopped = time.time()
        procs[1].send_signal(signal.SIGTERM)
        assert procs[1].wait(15) == 0
        procs[2].kill()
        procs[2].wait(5)

        def deaths():
            return sorted(t for when, t, _ in list(sub.messages) if when >= stopped and
                          "/NDEATH/" in t)
        wait_until(lambda: len(deaths()) == 2, 40, "the two deaths")
        # The others live on: their modules' data still comes, and nobody else died.
        after = time.time()
        for g in (0, 3):
            sub.wait_for(lambda m: m[0] > after and m[1].startswith(f"{SP}DDATA/gw{g}/"),
                         what=f"gw{g}'s data")
        assert deaths() == [f"{SP}NDEATH/gw1", f"{SP}NDEATH/gw2"]
    finally:
        for p in procs:
            if p.poll() is None:
                p.terminate()
                p.wait(15)
        sub.close()
