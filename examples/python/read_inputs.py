#!/usr/bin/env python3
"""Finds a module and prints its inputs as points, slot by slot.

    read_inputs.py [MODULE]

MODULE is an address, "#N", a name or a hardware address; without it, the first module that
answers discovery. Against RackSim on loopback, bind to it: ZEB_LOCAL=127.0.0.1.
"""
import sys

import zeb


def main() -> int:
    with zeb.Transport() as transport:
        if len(sys.argv) > 1:
            module = transport.find(sys.argv[1])
        else:
            found = transport.discover()
            if not found:
                print("No modules found (against RackSim, set ZEB_LOCAL=127.0.0.1).")
                return 3
            module = found[0]
        with transport.open(module) as dev:
            about = dev.identify()
            print(f"{about.name} at {dev.address} (#{about.number}, {about.kind_name})")
            inputs = dev.read_inputs()
            for number, slot in inputs.items():
                for kind, values in slot.to_dict().items():
                    if values:
                        print(f"slot {number} {kind}: {' '.join(str(v) for v in values)}")
            # Words and 32-bit values read unsigned; .signed reads them as two's complement.
            for number, slot in inputs.items():
                if slot.words:
                    print(f"slot {number} words, signed: {list(slot.words.signed)}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except zeb.ZebError as e:
        print(f"read_inputs: {e}", file=sys.stderr)
        sys.exit(3 if isinstance(e, (zeb.ZebTimeout, zeb.TransportError)) else 1)
