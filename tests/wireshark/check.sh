#!/usr/bin/env bash
# Captures a session with RackSim's --pcap and checks what the dissector makes of it, then reads a
# capture of malformed frames (odd_frames.py).
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
    grep -q $'1\t4\t0x00000020' <<<"$(dissect -Y 'zeb.function == 0x24' -T fields -e zeb.mem.type \
                                               -e zeb.count -e zeb.mem.address)"
services=$(dissect -Y 'zeb.function == 0x35' -V)
expect "a controller service is named" grep -q GetLastError <<<"$services"
expect "a service's path is shown" grep -q 'Path: capture.txt' <<<"$services"
info=$(dissect -T fields -e _ws.col.Info)
expect "the Info column names a service call and its path" \
    grep -qF 'Controller service CreateFile "dissect.txt"' <<<"$info"
expect "the Info column names the service of a reply, with its status and return value" \
    grep -qE '^Reply seq=[0-9]+: Controller service CreateFile, status 0x0000, handle 0x' \
         <<<"$info"

# The handle that CreateFile returned, in each call on that file (ReadFile, WriteFile,
# CloseHandle, SetFilePointer, GetFileSize), linked to where the file was opened.
opened=$(dissect -Y 'zeb.service == 1' -T fields -e frame.number)
handle=$(dissect -Y "zeb.request_in == $opened" -T fields -e zeb.return_value)
expect "the returned handle names its file in the calls on it" \
    test "$(dissect -Y "zeb.xcpu.handle == $handle" -T fields -e zeb.service \
                    -e zeb.xcpu.opened_in | sort | paste -sd ' ')" = \
         "$(printf "0x%04x\t$opened " 2 3 5 18 20 | sed 's/ $//')"
fields() { dissect -Y "$1" -T fields "${@:2}"; }
expect "a write shows its count and data" \
    grep -qx $'4\t7a656221' <<<"$(fields 'zeb.service == 3' -e zeb.xcpu.count -e zeb.xcpu.data)"
expect "a read's reply shows the bytes read and their number" \
    grep -qx $'4\t7a656221' <<<"$(fields 'zeb.xcpu.transferred && zeb.xcpu.data' \
                                        -e zeb.xcpu.transferred -e zeb.xcpu.data)"
expect "a search's reply shows the file it found" \
    grep -qx dissect.txt <<<"$(fields zeb.xcpu.file_name -e zeb.xcpu.file_name)"
expect "a failure that the return value carries is flagged" \
    grep -qx 0xffffffff <<<"$(fields zeb.xcpu.failed -e zeb.return_value)"

# Links that the first reading of the frames gives, and those that need a second (-2).
expect "every request with a reply links to it, on a second pass" \
    test "$(dissect -2 -Y zeb.response_in -T fields -e frame.number | sort -n)" = \
         "$(fields zeb.request_in -e zeb.request_in | sort -nu)"
silent=$(fields 'zeb.direction == "request" && (ip.dst == 127.0.0.9 || zeb.keyed)' \
                -e frame.number)
expect "requests that nothing answered are flagged, on a second pass, and no others" \
    test "$(dissect -2 -Y zeb.no_reply -T fields -e frame.number)" = "$silent"
expect "a request sent again after no reply is marked, on the first pass" \
    test "$(fields zeb.resend_of -e frame.number -e zeb.resend_of)" = \
         "$(fields 'ip.dst == 127.0.0.9' -e frame.number | tac | paste -s)"

# A CRC of 0 is the true CRC of a bare status word 0 and of the record that ends in its own CRC;
# the one request sent without a CRC has 0 in its place.
expect "a CRC field of 0 is correct where it is the payload's CRC" \
    test "$(fields 'zeb.crc == 0 && zeb.data == 7a:65:72:6f:a9:37' -e zeb.crc.status)" = good
expect "a CRC field of 0 that is not the payload's CRC was not computed, and only that one" \
    test "$(fields 'zeb.crc == 0 && zeb.crc.status != "good"' -e zeb.direction \
                   -e zeb.crc.status)" = $'request\tnot computed'
crc_zero=$(dissect -Y 'zeb.crc == 0' -O zeb)
expect "the CRC of 0 says so" grep -qF 'CRC: 0x0000 (correct)' <<<"$crc_zero"
expect "the CRC not computed says so" grep -qF 'CRC: 0x0000 (not computed)' <<<"$crc_zero"
expect "acknowledgements are marked" \
    test -n "$(dissect -Y 'zeb.ack' -T fields -e frame.number)"
expect "the extended header names the module" \
    test -n "$(dissect -Y 'zeb.ext.node' -T fields -e zeb.ext.node)"
expect "key-encrypted frames are marked" \
    test -n "$(dissect -Y 'zeb.keyed' -T fields -e frame.number)"
# Frames that no sound sender makes: read without an error, and what is missing flagged.
if command -v python3 >/dev/null; then
    python3 "$here/odd_frames.py" "$work/odd.pcap"
    odd=$(tshark -X lua_script:"$root/tools/wireshark/zeb.lua" -r "$work/odd.pcap" -2 -V 2>&1)
    expect "frames cut short or announcing more than they carry are read without an error" \
        test -z "$(grep -E 'Lua Error|Malformed Packet' <<<"$odd" | head -3)"
    expect "a field cut short is flagged" grep -q 'The frame ends before this field does' <<<"$odd"
    expect "datagrams quoted by ICMP errors are shown, not taken for traffic" \
        test "$(tshark -X lua_script:"$root/tools/wireshark/zeb.lua" -r "$work/odd.pcap" -2 \
                       -Y 'icmp && zeb' -T fields -e zeb.direction -e zeb.request_in \
                       -e zeb.response_in -e _ws.expert 2>/dev/null | paste -s)" = \
             $'request\t\t\t\treply\t\t\t'
else
    echo "skipped: frames cut short (no python3)"
fi
exit $status
