#!/usr/bin/env python3
"""Watches a module's inputs and prints each point that changes.

    watch.py MODULE [--interval MS] [--count N] [--seconds S]

Reads every MS milliseconds (default 500) until N reads or S seconds have passed, or Ctrl-C.
"""
import argparse
import sys
import time

import zeb


def changes(before: dict, after: dict):
    """(slot, kind, index, old, new) for every point whose value differs."""
    for slot, kinds in after.items():
        for kind, values in kinds.items():
            old_values = before.get(slot, {}).get(kind, [])
            for index, value in enumerate(values):
                old = old_values[index] if index < len(old_values) else None
                if old != value:
                    yield slot, kind, index, old, value


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("module", help="an address, #N, a name or a hardware address")
    parser.add_argument("--interval", type=int, default=500, help="milliseconds between reads")
    parser.add_argument("--count", type=int, help="stop after this many reads")
    parser.add_argument("--seconds", type=float, help="stop after this many seconds")
    args = parser.parse_args()
    deadline = time.monotonic() + args.seconds if args.seconds is not None else None
    with zeb.Transport() as transport, transport.open(args.module) as dev:
        seen: dict = {}
        reads = 0
        try:
            while args.count is None or reads < args.count:
                if deadline is not None and time.monotonic() >= deadline:
                    break
                now = dev.read_inputs().to_dict()
                reads += 1
                stamp = time.strftime("%H:%M:%S")
                for slot, kind, index, old, new in changes(seen, now):
                    was = "" if old is None else f"{old} -> "
                    print(f"{stamp} slot {slot} {kind}[{index}]: {was}{new}", flush=True)
                seen = now
                time.sleep(args.interval / 1000)
        except KeyboardInterrupt:
            pass
    print(f"{reads} reads")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except zeb.ZebError as e:
        print(f"watch: {e}", file=sys.stderr)
        sys.exit(3 if isinstance(e, (zeb.ZebTimeout, zeb.TransportError)) else 1)
