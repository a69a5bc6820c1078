"""The parts of a gateway test: a real mosquitto with TLS and passwords, RackSim playing the
sample rack, zebgw itself, and a subscriber that keeps what it hears. Everything listens on
127.0.0.1 and is stopped at the end."""

import importlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

import paho.mqtt.client as mqtt

ZEBGW = os.environ.get("ZEBGW", "")
RACKSIM = os.environ.get("RACKSIM", "")
ZEB = os.environ.get("ZEB", "")
SOURCE = Path(__file__).resolve().parents[2]
SAMPLE_RACK = SOURCE / "tools/racksim/racks/sample.json"
PROTO = SOURCE / "tools/zebgw/sparkplug_b.proto"
USER, PASSWORD = "gw", "s3cret-pass"
SUB_USER, SUB_PASSWORD = "watcher", "watch-pass"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError(f"waited {timeout} s for {what() if callable(what) else what}")


def sparkplug_module(tmp):
    """The payload classes, generated from the gateway's own .proto by protoc."""
    subprocess.run(["protoc", f"--proto_path={PROTO.parent}", f"--python_out={tmp}", str(PROTO)],
                   check=True)
    sys.path.insert(0, str(tmp))
    return importlib.import_module("sparkplug_b_pb2")


def make_certificates(d):
    """A test CA and a server certificate for 127.0.0.1 signed by it; and a second CA that
    signed nothing the broker shows."""
    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, cwd=d, capture_output=True)
    for ca in ("ca", "other-ca"):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                f"/CN=zebgw test {ca}", "-keyout", f"{ca}.key", "-out", f"{ca}.crt")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
            "server.key", "-out", "server.csr")
    (d / "san.ext").write_text("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out", "server.crt")


class Broker:
    """mosquitto with a TLS listener for the gateway and a plain one for the subscriber, both
    with passwords, and persistence so that a restart keeps the subscriber's session."""

    def __init__(self, d):
        self.dir = d
        self.tls_port = free_port()
        self.port = free_port()
        make_certificates(d)
        passwords = d / "passwd"
        passwords.touch()
        for user, pw in ((USER, PASSWORD), (SUB_USER, SUB_PASSWORD)):
            subprocess.run(["mosquitto_passwd", "-b", str(passwords), user, pw], check=True)
        (d / "data").mkdir()
        run_as = "root" if os.getuid() == 0 else os.environ.get("USER", "")
        (d / "mosquitto.conf").write_text(f"""\
per_listener_settings false
allow_anonymous false
password_file {passwords}
persistence true
persistence_location {d}/data/
autosave_interval 3600
# A subscriber that falls behind under load loses nothing: the checks count every message.
max_queued_messages 0
user {run_as}
log_dest stderr
listener {self.port} 127.0.0.1
listener {self.tls_port} 127.0.0.1
cafile {d}/ca.crt
certfile {d}/server.crt
keyfile {d}/server.key
""")
        self.proc = None
        self.start()

    def start(self):
        self.log = open(self.dir / "mosquitto.log", "ab")
        self.proc = subprocess.Popen(["mosquitto", "-c", str(self.dir / "mosquitto.conf")],
                                     stdout=self.log, stderr=self.log)
        for port in (self.port, self.tls_port):
            wait_until(lambda: _listening(port), 10, f"mosquitto on port {port}")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        self.proc = None
        self.log.close()


def _listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


class Rack:
    """RackSim serving the sample rack: press-line at 127.0.0.2, packer at 127.0.0.3."""

    def __init__(self, d):
        self.log_path = d / "racksim.log"
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([RACKSIM, "--rack", str(SAMPLE_RACK)], stdout=self.log,
                                     stderr=subprocess.STDOUT)
        wait_until(lambda: b"serving" in self.log_path.read_bytes(), 10, "RackSim to serve")

    def pause(self):
        self.proc.send_signal(signal.SIGSTOP)

    def resume(self):
        self.proc.send_signal(signal.SIGCONT)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGCONT)
            self.proc.terminate()
            self.proc.wait(10)
        self.log.close()


def zeb(*args):
    """Runs zeb against the rack and returns its standard output."""
    r = subprocess.run([ZEB, "--local", "127.0.0.1", *args], capture_output=True, text=True,
                       timeout=30)
    assert r.returncode == 0, r.stderr
    return r.stdout


def wired_inputs(address="127.0.0.2"):
    """press-line's slot 1 bit inputs, which mirror its slot 3 bit outputs."""
    info = json.loads(zeb("--json", "io", "read", address))
    return _find_slot_bits(info, 1)


def _find_slot_bits(info, slot):
    slots = info.get("slots", info) if isinstance(info, dict) else info
    for s in slots:
        if s.get("slot") == slot:
            return s
    raise AssertionError(f"no slot {slot} in {info}")


CONFIG = """\
[gateway]
name = "cell"
format = "{format}"
local = "127.0.0.1"
timeout_ms = 40
retries = 1
dead_after = 3
search_max_ms = 400
health = "127.0.0.1:{health}"

[broker]
url = "mqtts://127.0.0.1:{tls_port}"
username = "{user}"
password_file = "{password_file}"
ca_file = "{ca}"

[sparkplug]
group = "plant"
edge_node = "cell"

[scan.fast]
period_ms = {period}

[[module]]
id = "press"
find = "press-line"
scan = "fast"
writable = ["slot3/bit_out/*"]

[[module]]
id = "packer"
find = "127.0.0.3"
scan = "fast"
publish = ["slot0/*/*"]
"""


class Gateway:
    def __init__(self, d, broker, format="sparkplug", period=100, password=PASSWORD, ca=None,
                 extra=""):
        self.dir = d
        self.health = free_port()
        pw = d / "gw-password"
        pw.write_text(password + "\n")
        pw.chmod(0o600)
        self.config = d / "zebgw.toml"
        self.period = period
        self.config.write_text(CONFIG.format(
            format=format, health=self.health, tls_port=broker.tls_port, user=USER,
            password_file=pw, ca=ca or broker.dir / "ca.crt", period=period) + extra)
        self.log_path = d / "zebgw.log"
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([ZEBGW, str(self.config)], stdout=self.log,
                                     stderr=subprocess.STDOUT)

    def output(self):
        return self.log_path.read_text(errors="replace")

    def get(self, path):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.health}{path}", timeout=5) as r:
            return r.status, r.read().decode()

    def metric(self, name):
        _, text = self.get("/metrics")
        for line in text.splitlines():
            if line.startswith(name + " "):
                return float(line.split()[1])
        raise AssertionError(f"no metric {name}")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()
        return self.proc.returncode


class Subscriber:
    """Hears every message under the topics given, with the time it came; keeps its session
    across a broker restart (clean_session off, QoS 1)."""

    def __init__(self, broker, topics, client_id="watcher"):
        self.messages = []
        self.topics = topics
        self.client = mqtt.Client(client_id=client_id, clean_session=False)
        self.client.username_pw_set(SUB_USER, SUB_PASSWORD)
        self.client.reconnect_delay_set(min_delay=1, max_delay=1)
        self.client.on_connect = self._on_connect
        self.client.on_message = lambda c, u, m: self.messages.append(
            (time.time(), m.topic, m.payload))
        self.connected = False
        self.client.connect("127.0.0.1", broker.port, keepalive=10)
        self.client.loop_start()
        wait_until(lambda: self.connected, 10, "the subscriber to connect")

    def _on_connect(self, client, userdata, flags, rc):
        if rc == 0:
            for t in self.topics:
                client.subscribe(t, qos=1)
            self.connected = True

    def publish(self, topic, payload):
        self.client.publish(topic, payload, qos=1).wait_for_publish(5)

    def wait_for(self, predicate, timeout=10, what="a message"):
        """The first message (time, topic, payload) from the start for which predicate holds."""
        def find():
            for m in list(self.messages):
                if predicate(m):
                    return m
            return None
        return wait_until(find, timeout, what)

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()
