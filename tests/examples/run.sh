#!/usr/bin/env bash
# Runs the C examples against RackSim serving the sample rack on loopback and checks what they
# print. Usage: run.sh RACKSIM PREFIX, where PREFIX + read_inputs (write_point, read_setup) are
# the programs: the tree's own build, or a consumer's build against the installed library.
# Prints "ok:" and "FAILED:" lines; exits non-zero on a failure.
set -uo pipefail
racksim=$1
prefix=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$work"' EXIT

"$racksim" --rack "$root/tools/racksim/racks/sample.json" --controller-root "$work" \
    >"$work/racksim.log" 2>&1 &
sim=$!
for _ in $(seq 50); do
    grep -q ':7070 ' /proc/net/udp 2>/dev/null && break
    sleep 0.1
done

status=0
# run NAME EXPECTED-EXIT ARGS...: the program's output is left in $out.
run() {
    local name=$1 expected=$2
    shift 2
    out=$("$prefix$name" "$@" 2>&1)
    local code=$?
    if [[ $code -ne $expected ]]; then
        echo "FAILED: $name $* exited with $code, not $expected:"
        sed 's/^/    /' <<<"$out"
        status=1
        return 1
    fi
}
expect() {  # what, then the line that the last output must contain
    if grep -qxF -- "$2" <<<"$out"; then
        echo "ok: $1"
    else
        echo "FAILED: $1: no line '$2' in:"
        sed 's/^/    /' <<<"$out"
        status=1
    fi
}

if run read_inputs 0 1 127.0.0.1; then
    expect "read_inputs finds module 1 by its number" "module 1 at 127.0.0.2"
    expect "read_inputs prints bit inputs by index" \
        "slot 0 bit inputs: 1 0 1 1 0 0 0 0 1 0 0 0 0 0 0 0"
    # Word input 0 of slot 4 counts the reads: it is whatever it is, the others are fixed.
    grep -qE '^slot 4 word inputs: [0-9]+ 1200 2400 3600$' <<<"$out" &&
        echo "ok: read_inputs prints word inputs" ||
        { echo "FAILED: read_inputs's word inputs: $out"; status=1; }
    expect "read_inputs prints 32-bit inputs" "slot 5 32-bit inputs: 0 0"
fi
run read_inputs 3 9 127.0.0.1 && expect "read_inputs says when no module answers" \
    "no module answers to number 9"
run read_inputs 2 1 not-an-address

if run write_point 0 127.0.0.2 127.0.0.1; then
    expect "write_point writes the first output" "wrote slot 3 bit output 0 = 1"
    expect "write_point's second write keeps the first output on" \
        "slot 3 bit outputs: 1 0 0 0 0 0 0 1"
    # Slot 1 of the sample rack reads back slot 3's outputs: the module holds both.
    expect "the module has both outputs on" "slot 1 bit inputs: 1 0 0 0 0 0 0 1"
fi

run read_setup 0 packer 0x0030 127.0.0.1 &&
    expect "read_setup reads a text record by the module's name" "text: line A"
run read_setup 0 packer 0x0031 127.0.0.1 &&
    expect "read_setup prints a binary record in hex" \
        "module 'packer', setup record 0x0031: 4 bytes: 00 0A 01 FF"
run read_setup 1 packer 0x0077 127.0.0.1 &&
    echo "ok: read_setup fails on a record the module does not hold"
exit $status
