#!/usr/bin/env python3
"""Reads one setup record of a module and prints it as text, or as hex when it is not text.

    read_setup.py MODULE [TYPE]      TYPE: decimal or 0x hex; default 0x16, the module's name
"""
import sys

import zeb


def main() -> int:
    if not 2 <= len(sys.argv) <= 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    record_type = int(sys.argv[2], 0) if len(sys.argv) == 3 else 0x16
    with zeb.Transport() as transport, transport.open(sys.argv[1]) as dev:
        print(f"record types: {' '.join(f'0x{t:04X}' for t in dev.setup_types())}")
        try:
            data = dev.read_setup(record_type)
        except zeb.ModuleRefused as e:
            print(f"no record 0x{record_type:04X} (status 0x{e.status:04X})")
            return 1
        text = data.rstrip(b"\0")
        if text and all(32 <= b < 127 for b in text):
            print(f"0x{record_type:04X}: {text.decode('ascii')}")
        else:
            print(f"0x{record_type:04X}: {data.hex(' ')}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except zeb.ZebError as e:
        print(f"read_setup: {e}", file=sys.stderr)
        sys.exit(3 if isinstance(e, (zeb.ZebTimeout, zeb.TransportError)) else 1)
