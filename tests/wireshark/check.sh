#!/usr/bin/env bash
# Captures a session with RackSim's --pcap and checks what the dissector makes of it.
# Usage: check.sh RACKSIM CAPTURE_SESSION   (exit 77: tshark is not installed)
set -uo pipefail
racksim=$1
session=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
command -v tshark >/dev/null || { echo "tshark is not installed"; exit 77; }
work=$(mktemp -d)
trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT

"$racksim" --rack "$root/tools/racksim/racks/sample.json" --pcap "$work/session.pcap" \
    --controller-root "$work" \
    >"$work/racksim.log" 2>&1 &
sim=$!
for _ in $(seq 50); do
    grep -q ':7070 ' /proc/net/udp 2>/dev/null && break
    sleep 0.1
done
"$session" >/dev/null || { echo "the session failed"; exit 1; }
kill $sim
wait $sim 2>/dev/null

dissect() {
    tshark -X lua_script:"$root/tools/wireshark/zeb.lua" -r "$work/session.pcap" "$@" 2>/dev/null
}
status=0
expect() {  # description, then a command whose success is the check
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; status=1; fi
}

functions=$(dissect -Y 'zeb.direction == "request"' -T fields -e zeb.function | sort -u | tr '\n' ' ')
for code in 0x05 0x01 0x02 0x04 0x08 0x07 0x06 0x0a 0x0b 0x0c 0x0d 0x62 0x14 0x0e 0x17 0x19 \
            0x1a 0x24 0x25 0x26 0x28 0x29 0x23 0x60 0x35; do
    expect "a request with function $code is named" grep -q -- "$code" <<<"$functions"
done
expect "every reply is paired with its request" \
    test -z "$(dissect -Y 'zeb.direction == "reply" && !zeb.request_in' -T fields -e frame.number)"
expect "the response time is shown" \
    test -n "$(dissect -Y 'zeb.time >= 0' -T fields -e zeb.time | head -1)"
expect "the three modules answer discovery with their hardware addresses" \
    test "$(dissect -Y 'zeb.hw' -T fields -e zeb.hw | sort -u | wc -l)" -ge 3
expect "every frame's CRC checks out" \
    test -z "$(dissect -Y 'zeb.crc.status == "bad"' -T fields -e frame.number)"
expect "the setup record type is a named field" \
    grep -q 0x0046 <<<"$(dissect -Y 'zeb.function == 0x0c' -T fields -e zeb.setup.type)"
expect "the memory write shows its type, count and address" \
    grep -q $'1\t4\t0x00000020' <<<"$(dissect -Y 'zeb.function == 0x24' -T fields -e zeb.mem.type -e zeb.count -e zeb.mem.address)"
services=$(dissect -Y 'zeb.function == 0x35' -V)
expect "a controller service is named" grep -q GetLastError <<<"$services"
expect "a service's path is shown" grep -q 'Path: capture.txt' <<<"$services"
expect "acknowledgements are marked" \
    test -n "$(dissect -Y 'zeb.ack' -T fields -e frame.number)"
expect "the extended header names the module" \
    test -n "$(dissect -Y 'zeb.ext.node' -T fields -e zeb.ext.node)"
expect "key-encrypted frames are marked" \
    test -n "$(dissect -Y 'zeb.keyed' -T fields -e frame.number)"
exit $status
