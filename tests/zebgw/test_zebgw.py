"""zebgw end to end: a real mosquitto (TLS, passwords), RackSim's sample rack as the plant,
and a subscriber that checks what reaches the broker."""

import json
import os
import signal
import subprocess
import time

import pytest

import harness
from harness import Gateway, Subscriber, wait_until, zeb

SP = "spBv1.0/plant/"
BIT_BOOLEAN = 11


# Aliases as the births gave them, as a Sparkplug host keeps them: every test's edge node is
# "cell" with the same modules, so one table serves.
ALIASES = {}


def decode(pb, payload):
    """The payload, with the names of metrics that came by alias alone filled in."""
    p = pb.Payload()
    p.ParseFromString(payload)
    for m in p.metrics:
        if m.HasField("alias"):
            if m.name:
                ALIASES[m.alias] = m.name
            else:
                m.name = ALIASES.get(m.alias, f"alias {m.alias}")
    return p


def metrics(p):
    out = {}
    for m in p.metrics:
        kind = m.WhichOneof("value")
        out[m.name] = getattr(m, kind) if kind else None
    return out


def sparkplug(pb, sub):
    """(time, topic, payload) of every Sparkplug message heard so far, decoded."""
    return [(t, topic, decode(pb, payload)) for t, topic, payload in list(sub.messages)
            if topic.startswith(SP)]


def dcmd(pb, sub, device, name, value, datatype=BIT_BOOLEAN, alias=None):
    """A write by name, or by alias alone when one is given."""
    p = pb.Payload()
    p.timestamp = int(time.time() * 1000)
    m = p.metrics.add()
    if alias is None:
        m.name = name
    else:
        m.alias = alias
    m.datatype = datatype
    if datatype == BIT_BOOLEAN:
        m.boolean_value = bool(value)
    else:
        m.int_value = value
    sub.publish(f"{SP}DCMD/cell/{device}", p.SerializeToString())


def assert_sequence_unbroken(messages):
    """From each NBIRTH on, every message of the node counts seq up by one, modulo 256."""
    seq, seen = None, set()
    for _, topic, p in messages:
        kind = topic.split("/")[2]
        if kind in ("NDEATH", "NCMD", "DCMD"):  # the will, and commands to the node
            continue
        key = (topic, p.SerializeToString())
        if key in seen:
            continue  # the broker may deliver a QoS 1 message again across its restart
        seen.add(key)
        if kind == "NBIRTH":
            assert p.seq == 0, topic
            seq = 0
            continue
        assert seq is not None, f"{topic} before any NBIRTH"
        assert p.seq == (seq + 1) % 256, f"{topic}: seq {p.seq} after {seq}"
        seq = p.seq


def start(parts, tmp_path, **kwargs):
    broker, rack, started = parts
    sub = Subscriber(broker, [SP + "#", "zeb/#"], client_id=f"watcher-{time.monotonic_ns()}")
    started.append(sub)
    gw = Gateway(tmp_path, broker, **kwargs)
    started.append(gw)
    return broker, rack, sub, gw


def birth_of(pb, sub, device, after=0.0):
    _, _, p = sub.wait_for(lambda m: m[0] >= after and m[1] == f"{SP}DBIRTH/cell/{device}",
                           what=f"DBIRTH of {device}")
    return decode(pb, p)


@pytest.mark.needs_broker
def test_births_changes_writes_and_health(parts, tmp_path, pb):
    broker, rack, sub, gw = start(parts, tmp_path, period=250)

    _, _, nbirth = sub.wait_for(lambda m: m[1] == SP + "NBIRTH/cell", what="NBIRTH")
    nbirth = decode(pb, nbirth)
    assert nbirth.seq == 0
    assert metrics(nbirth) == {"bdSeq": 0, "Node Control/Rebirth": False,
                               "zebgw/write_result": ""}

    press_birth, packer_birth = birth_of(pb, sub, "press"), birth_of(pb, sub, "packer")
    # Every point is born with its name and an alias, unique across the edge node.
    points = [m for b in (press_birth, packer_birth) for m in b.metrics
              if m.name.startswith("slot")]
    assert points and all(m.HasField("alias") for m in points)
    assert len({m.alias for m in points}) == len(points)
    alias = {m.name: m.alias for m in press_birth.metrics if m.HasField("alias")}
    press = metrics(press_birth)
    # The sample rack's slot 0 bits are 1 0 1 1 0 0 0 0 1; slot 4 counts reads in word 0.
    assert [press[f"slot0/bit_in/{i}"] for i in range(9)] == [True, False, True, True, False,
                                                             False, False, False, True]
    assert press["slot4/word_in/1"] == 1200
    assert press["slot3/bit_out/0"] is False
    packer = metrics(packer_birth)
    assert set(packer) == {f"slot0/{k}/{i}" for k, n in (("bit_in", 8), ("bit_out", 8),
                                                          ("word_in", 2), ("word_out", 2),
                                                          ("dword_in", 1), ("dword_out", 1))
                           for i in range(n)} | {"zebgw/write_result"}

    # An input changed by another host is published within two of the gateway's periods
    # (the metric's time is when the gateway read it).
    changed_at = time.time()
    zeb("io", "write", "127.0.0.2", "3.bits=0x01")
    written = time.time()
    t, _, p = sub.wait_for(lambda m: m[1] == SP + "DDATA/cell/press" and
                           metrics(decode(pb, m[2])).get("slot1/bit_in/0") is True,
                           what="the change of slot1/bit_in/0")
    ddata = decode(pb, p)
    read_at = next(m.timestamp for m in ddata.metrics if m.name == "slot1/bit_in/0") / 1000
    # Data names its points by alias alone.
    raw = pb.Payload()
    raw.ParseFromString(p)
    assert all(m.HasField("alias") and not m.name for m in raw.metrics), raw
    assert changed_at - 0.05 <= read_at <= written + 2 * gw.period / 1000 + 0.05

    # A DCMD write by alias reaches the module's outputs, which its slot 1 inputs mirror.
    dcmd(pb, sub, "press", None, True, alias=alias["slot3/bit_out/5"])
    wait_until(lambda: harness.wired_inputs()["bits"][5] == 1, 10, "the write to reach RackSim")
    sub.wait_for(lambda m: m[1] == SP + "DDATA/cell/press" and
                 metrics(decode(pb, m[2])).get("slot1/bit_in/5") is True, what="the echo")

    # Writes outside the allow-list, to no point, or that do not fit are refused and said so;
    # nothing reaches the module.
    before = harness.wired_inputs()["bits"]
    for name, value, why in (("slot4/word_out/0", 7, "not writable"),
                             ("slot1/bit_in/2", 1, "not writable"),
                             ("slot9/bit_out/0", 1, "no point"),
                             ("slot3/bit_out/1", 2, "does not fit")):
        dcmd(pb, sub, "press", name, value, datatype=6)
        _, _, p = sub.wait_for(
            lambda m: m[1] == SP + "DDATA/cell/press" and
            name in metrics(decode(pb, m[2])).get("zebgw/write_result", ""),
            what=f"the refusal of {name}")
        result = json.loads(metrics(decode(pb, p))["zebgw/write_result"])
        assert result["ok"] is False and why in result["error"], result
    assert harness.wired_inputs()["bits"] == before
    assert gw.metric('zebgw_writes_total{result="refused"}') == 4
    assert gw.metric('zebgw_writes_total{result="done"}') == 1

    # Health: metrics, liveness, the modules' state.
    assert gw.get("/healthz") == (200, "ok\n")
    _, text = gw.get("/metrics")
    assert 'zebgw_cycle_seconds_bucket{group="fast",le="+Inf"}' in text
    assert gw.metric('zebgw_overruns_total{group="fast"}') == 0
    assert gw.metric("zebgw_broker_connected") == 1
    states = {m["id"]: m for m in json.loads(gw.get("/modules")[1])["modules"]}
    assert states["press"]["state"] == "alive" and states["press"]["address"] == "127.0.0.2"

    # A rebirth request births the node and its devices again, seq from 0.
    asked = time.time()
    p = pb.Payload()
    m = p.metrics.add()
    m.name, m.datatype, m.boolean_value = "Node Control/Rebirth", BIT_BOOLEAN, True
    sub.publish(SP + "NCMD/cell", p.SerializeToString())
    _, _, rebirth = sub.wait_for(lambda m: m[0] >= asked and m[1] == SP + "NBIRTH/cell",
                                 what="the rebirth")
    assert decode(pb, rebirth).seq == 0
    assert metrics(birth_of(pb, sub, "press", after=asked))["slot3/bit_out/5"] is True

    # SIGTERM: the death certificate with the birth's bdSeq, and a clean exit.
    assert gw.stop() == 0
    _, _, death = sub.wait_for(lambda m: m[1] == SP + "NDEATH/cell", what="NDEATH")
    assert metrics(decode(pb, death)) == {"bdSeq": 0}
    assert_sequence_unbroken(sparkplug(pb, sub))


@pytest.mark.needs_broker
def test_silent_module_dies_and_is_reborn(parts, tmp_path, pb):
    broker, rack, sub, gw = start(parts, tmp_path, period=50)
    birth_of(pb, sub, "press")
    birth_of(pb, sub, "packer")
    # Writes are refused while the module does not answer: nothing waits to surprise it later.
    rack.pause()
    silenced = time.time()
    for device in ("press", "packer"):
        sub.wait_for(lambda m: m[0] >= silenced and m[1] == f"{SP}DDEATH/cell/{device}",
                     what=f"DDEATH of {device}")
    dcmd(pb, sub, "press", "slot3/bit_out/1", True)
    # The device is dead: the node says why.
    _, _, p = sub.wait_for(lambda m: m[1] == SP + "NDATA/cell" and "does not answer" in
                           metrics(decode(pb, m[2])).get("zebgw/write_result", ""),
                           what="the refused write")
    assert json.loads(metrics(decode(pb, p))["zebgw/write_result"])["device"] == "press"
    states = {m["id"]: m["state"] for m in json.loads(gw.get("/modules")[1])["modules"]}
    assert states == {"press": "searching", "packer": "searching"}
    rack.resume()
    back = time.time()
    for device in ("press", "packer"):
        birth_of(pb, sub, device, after=back)
    assert harness.wired_inputs()["bits"][1] == 0
    assert gw.metric('zebgw_module_deaths_total{module="press"}') == 1
    assert_sequence_unbroken(sparkplug(pb, sub))


def write_byte(v):
    """press-line's slot 3 outputs, and so its slot 1 inputs, as the byte v."""
    zeb("io", "write", "127.0.0.2", "3.bit=" + ",".join(str((v >> i) & 1) for i in range(8)))


def kept_changes(pb, sub, count):
    """The DDATA of press that carry slot 1's inputs, all marked historical, and slot 1's byte
    after each, once count of them came. A message the broker delivers again across its restart
    (the same bytes, seq included) counts once."""
    def heard():
        seen, heard_before = [], set()
        for _, topic, p in sparkplug(pb, sub):
            if topic == SP + "DDATA/cell/press" and all(m.is_historical for m in p.metrics
                                                       if m.name.startswith("slot1/")):
                if any(m.name.startswith("slot1/") for m in p.metrics):
                    if p.SerializeToString() not in heard_before:
                        heard_before.add(p.SerializeToString())
                        seen.append(p)
        return seen if len(seen) >= count else None
    history = wait_until(heard, 20, "every kept change")
    got, byte = [], 0
    for p in history:
        for m in p.metrics:
            if m.name.startswith("slot1/bit_in/"):
                bit = int(m.name.rsplit("/", 1)[1])
                byte = (byte & ~(1 << bit)) | (int(m.boolean_value) << bit)
        got.append(byte)
    return history, got


@pytest.mark.needs_broker
def test_broker_away_keeps_every_change_in_order(parts, tmp_path, pb):
    broker, rack, sub, gw = start(parts, tmp_path, period=100)
    birth_of(pb, sub, "press")
    broker.stop()
    # While the broker is away, slot 1's inputs take the values 1, 2, 3, ... as a byte.
    values = list(range(1, 11))
    for v in values:
        write_byte(v)
        time.sleep(0.5)
    wait_until(lambda: gw.metric("zebgw_queue_depth") >= len(values), 10, "the queue to fill")
    assert gw.metric("zebgw_broker_connected") == 0
    broker.start()

    # Every change arrives after the new births, marked historical, in the order it happened.
    history, got = kept_changes(pb, sub, len(values))
    assert got == values
    times = [p.metrics[0].timestamp for p in history]
    assert times == sorted(times)
    msgs = sparkplug(pb, sub)
    births = [i for i, (_, t, _) in enumerate(msgs) if t == SP + "NBIRTH/cell"]
    # Every attempt to connect counts bdSeq on: the new birth has a new number.
    assert len(births) == 2 and metrics(msgs[births[1]][2])["bdSeq"] != 0
    first_history = next(i for i, (_, t, p) in enumerate(msgs)
                         if t == SP + "DDATA/cell/press" and p.metrics[0].is_historical)
    assert first_history > births[1]
    assert gw.metric("zebgw_queue_dropped_total") == 0
    assert_sequence_unbroken(msgs)


@pytest.mark.needs_broker
def test_queue_file_keeps_changes_across_a_restart(parts, tmp_path, pb):
    broker, rack, started = parts
    queue = tmp_path / "queue"
    bound = 1 << 20
    extra = f'\n[queue]\nfile = "{queue}"\nmax_bytes = {bound}\n'
    sub = Subscriber(broker, [SP + "#"], client_id=f"watcher-{time.monotonic_ns()}")
    started.append(sub)

    def run(name):
        d = tmp_path / name
        d.mkdir()
        gw = Gateway(d, broker, period=100, extra=extra)
        started.append(gw)

        def press_up():
            try:
                return gw.metric('zebgw_module_up{module="press"}') == 1
            except OSError:  # the health endpoint is not up yet
                return False
        wait_until(press_up, 10, "press to be scanned")
        return gw

    gw = run("first")
    birth_of(pb, sub, "press")
    broker.stop()
    values = list(range(1, 11))
    for v in values[:5]:
        write_byte(v)
        time.sleep(0.5)
    wait_until(lambda: gw.metric("zebgw_queue_depth") >= 5, 10, "the queue to fill")
    assert gw.stop() == 0
    # A power cut as the last record was written (the read counter's change after the last
    # byte): the record is cut short.
    size = queue.stat().st_size
    assert 16 < size <= bound
    os.truncate(queue, size - 3)

    # Started again with the broker still away: the torn record is dropped and said, and what
    # comes now waits behind what was kept.
    gw = run("second")
    wait_until(lambda: "was dropped" in gw.output(), 10, "the torn record said")
    assert gw.metric("zebgw_queue_dropped_total") == 1
    for v in values[5:]:
        write_byte(v)
        time.sleep(0.5)
    assert queue.stat().st_size <= bound
    broker.start()

    # Every change of both runs, once, in order, historical; then the file is emptied.
    history, got = kept_changes(pb, sub, len(values))
    assert got == values
    times = [p.metrics[0].timestamp for p in history]
    assert times == sorted(times)
    wait_until(lambda: queue.stat().st_size == 16, 10, "the delivered queue to be emptied")
    assert gw.metric("zebgw_queue_dropped_total") == 1

    # Stopped with a change kept, and started again with the broker there: the connection
    # comes before press is found by name, and press is born for its kept change.
    broker.stop()
    write_byte(11)
    # Other points change too: the change is kept once press has been read twice since.
    reads = gw.metric('zebgw_module_reads_total{module="press"}')
    wait_until(lambda: gw.metric('zebgw_module_reads_total{module="press"}') >= reads + 2, 10,
               "press to be read after the change")
    wait_until(lambda: gw.metric("zebgw_queue_depth") >= 1, 10, "the change to be kept")
    assert gw.stop() == 0
    broker.start()
    gw = run("third")
    history, got = kept_changes(pb, sub, len(values) + 1)
    assert got == values + [11]
    assert gw.metric("zebgw_queue_dropped_total") == 0
    assert_sequence_unbroken(sparkplug(pb, sub))


@pytest.mark.needs_broker
def test_json_queue_file_keeps_changes_across_a_restart(parts, tmp_path):
    broker, rack, started = parts
    queue = tmp_path / "queue"
    extra = f'\n[queue]\nfile = "{queue}"\n'
    sub = Subscriber(broker, ["zeb/#"], client_id=f"watcher-{time.monotonic_ns()}")
    started.append(sub)
    topic = "zeb/cell/press/slot1/bit_in/0"

    def run(name):
        d = tmp_path / name
        d.mkdir()
        gw = Gateway(d, broker, format="json", period=100, extra=extra)
        started.append(gw)
        return gw

    def read_twice(gw):
        def reads():
            try:
                return gw.metric('zebgw_module_reads_total{module="press"}')
            except (OSError, AssertionError):  # not up yet
                return -1
        wait_until(lambda: reads() >= 0, 10, "press to be scanned")
        before = reads()
        wait_until(lambda: reads() >= before + 2, 10, "press to be read twice")

    gw = run("first")
    write_byte(0)
    read_twice(gw)
    broker.stop()
    values = [1, 0, 1, 0, 1]
    for v in values:
        write_byte(v)
        time.sleep(0.5)
    read_twice(gw)
    assert gw.stop() == 0
    broker.start()
    gw = run("second")

    # Slot 1's bit 0 as it was read while the broker was away: in order, historical, not
    # retained as the point's present value.
    def kept():
        got = [json.loads(p) for _, t, p in list(sub.messages) if t == topic]
        got = [j for j in got if j.get("historical")]
        return got if len(got) >= len(values) else None
    history = wait_until(kept, 20, "every kept change")
    assert [j["value"] for j in history] == values
    times = [j["ts"] for j in history]
    assert times == sorted(times)
    assert gw.metric("zebgw_queue_dropped_total") == 0


@pytest.mark.needs_broker
def test_json_topics(parts, tmp_path):
    broker, rack, sub, gw = start(parts, tmp_path, format="json", period=50)
    sub.wait_for(lambda m: m[1] == "zeb/cell/status" and m[2] == b"online", what="status")
    sub.wait_for(lambda m: m[1] == "zeb/cell/press/status" and m[2] == b"online", what="press")
    _, _, v = sub.wait_for(lambda m: m[1] == "zeb/cell/press/slot0/bit_in/2", what="a point")
    assert json.loads(v)["value"] == 1
    sub.publish("zeb/cell/press/slot3/bit_out/2/set", "true")
    wait_until(lambda: harness.wired_inputs()["bits"][2] == 1, 10, "the write")
    sub.wait_for(lambda m: m[1] == "zeb/cell/press/slot1/bit_in/2" and
                 json.loads(m[2])["value"] == 1, what="the echo")
    sub.publish("zeb/cell/packer/slot0/bit_out/0/set", '{"value": 1}')
    _, _, r = sub.wait_for(lambda m: m[1] == "zeb/cell/packer/slot0/bit_out/0/result",
                           what="the refusal")
    assert json.loads(r)["ok"] is False and "not writable" in json.loads(r)["error"]
    sub.publish("zeb/cell/press/slot3/bit_out/3/set", "on")
    _, _, r = sub.wait_for(lambda m: m[1] == "zeb/cell/press/slot3/bit_out/3/result",
                           what="the refusal")
    assert "not a number" in json.loads(r)["error"]
    assert gw.stop() == 0
    sub.wait_for(lambda m: m[1] == "zeb/cell/status" and m[2] == b"offline", what="offline")


@pytest.mark.needs_broker
def test_sighup_reads_the_configuration_again(parts, tmp_path, pb):
    broker, rack, sub, gw = start(parts, tmp_path, period=100)
    birth_of(pb, sub, "press")
    gw.config.write_text(gw.config.read_text().replace('writable = ["slot3/bit_out/*"]',
                                                       'writable = []'))
    asked = time.time()
    gw.proc.send_signal(signal.SIGHUP)
    sub.wait_for(lambda m: m[0] >= asked and m[1] == SP + "NDEATH/cell", what="the old death")
    birth_of(pb, sub, "press", after=asked)
    dcmd(pb, sub, "press", "slot3/bit_out/0", True)
    sub.wait_for(lambda m: m[1] == SP + "DDATA/cell/press" and
                 "not writable" in metrics(decode(pb, m[2])).get("zebgw/write_result", ""),
                 what="the write refused under the new configuration")
    # A broken configuration is reported and the gateway goes on as it was.
    gw.config.write_text("[gateway\n")
    gw.proc.send_signal(signal.SIGHUP)
    wait_until(lambda: "going on as before" in gw.output(), 10, "the complaint")
    assert gw.get("/healthz")[0] == 200


@pytest.mark.needs_broker
@pytest.mark.parametrize("case, expected", [
    ("wrong password", "the broker refused the connection: Connection Refused: not authorised"),
    ("untrusted certificate", "certificate verify failed"),
])
def test_broker_refusals_are_said_clearly(parts, tmp_path, case, expected):
    broker, rack, started = parts
    kwargs = {"password": "not-it"} if case == "wrong password" else {
        "ca": broker.dir / "other-ca.crt"}
    gw = Gateway(tmp_path, broker, **kwargs)
    started.append(gw)
    wait_until(lambda: expected in gw.output(), 15, f"'{expected}' in {gw.output()!r}")
    # Scanning goes on without the broker.
    wait_until(lambda: gw.metric('zebgw_module_up{module="press"}') == 1, 10, "press scanned")
    assert gw.metric("zebgw_broker_connected") == 0


GOOD = """\
[gateway]
name = "cell"
[broker]
url = "mqtt://127.0.0.1:1883"
[scan.fast]
period_ms = 10
[[module]]
id = "press"
find = "press-line"
scan = "fast"
"""


@pytest.mark.parametrize("change, expected", [
    (("", ""), None),
    (('name = "cell"', 'name = "a/b"'), "2:8: name must not hold '/', '+' or '#'"),
    (('url = "mqtt://127.0.0.1:1883"', 'url = "tcp://x"'), "4:7: url must be mqtt://"),
    (('url = "mqtt://127.0.0.1:1883"', 'url = "mqtt://x:70000"'), "4:7: url must be"),
    (('url = "mqtt://127.0.0.1:1883"', 'url = "mqtts://x"'), "3:1: mqtts:// needs ca_file"),
    (('url = "mqtt://127.0.0.1:1883"', 'url = "mqtt://x"\npassword = "p"'),
     "5:12: no password here"),
    (('url = "mqtt://127.0.0.1:1883"', 'url = "mqtt://x"\npassword_file = "/no/such"'),
     "5:17: password_file: cannot read \"/no/such\""),
    (("period_ms = 10", "period_ms = 0"), "6:13: period_ms must be from 1 to 3600000"),
    (("period_ms = 10", 'period_ms = "fast"'), "6:13: period_ms must be an integer"),
    (('scan = "fast"', 'scan = "slow"'), '10:8: no scan group "slow"'),
    (('find = "press-line"', 'find = "#x"'), "9:8: find must be a name, #number"),
    (('scan = "fast"', 'scan = "fast"\nwritable = ["slot1/bit_in/0"]'),
     "11:13: writable: \"slot1/bit_in/0\" must name an output kind"),
    (('scan = "fast"', 'scan = "fast"\npublish = ["slot1/analog/0"]'),
     '11:12: publish: "analog" is no kind'),
    (('scan = "fast"', 'scan = "fast"\npublish = ["slot1/bit_in/5-2"]'),
     '11:12: publish: "5-2" is no index'),
    (('scan = "fast"', 'scan = "fast"\n[[module]]\nid = "press"\nfind = "#2"\nscan = "fast"'),
     '12:6: id "press" names two modules'),
    (('[scan.fast]', '[scan.fast]\nperiod = 5'), '6:1: unknown key "period" in [scan.fast]'),
    (('[gateway]', '[gatway]'), "missing [gateway]"),
    (('[scan.fast]', '[queue]\nfile = "/no/such/folder/queue"\n[scan.fast]'),
     "6:8: file: cannot make the queue file in /no/such/folder"),
    (('[scan.fast]', '[queue]\nmax_bytes = 10\n[scan.fast]'),
     "6:13: max_bytes must be from 4096"),
    (('[scan.fast]', '[sparkplug]\naliases = "yes"\n[scan.fast]'),
     "6:11: aliases must be true or false"),
    (('name = "cell"', 'name = "cell'), "2:13: "),
])
def test_check_reports_what_and_where(tmp_path, change, expected):
    if not harness.ZEBGW:
        pytest.skip("no ZEBGW: run through ctest")
    path = tmp_path / "gw.toml"
    path.write_text(GOOD.replace(*change) if change[0] else GOOD)
    r = subprocess.run([harness.ZEBGW, "--check", str(path)], capture_output=True, text=True)
    if expected is None:
        assert r.returncode == 0 and "sound" in r.stdout, r.stderr
    else:
        assert r.returncode == 1
        assert f"{path}:{expected}" in r.stderr or (":" not in expected[:3] and expected in r.stderr), r.stderr
