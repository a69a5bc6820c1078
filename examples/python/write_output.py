#!/usr/bin/env python3
"""Writes one output point, and shows that the other outputs keep their values.

    write_output.py MODULE SLOT KIND INDEX VALUE     e.g. write_output.py press-line 3 bits 6 1

KIND is bits, words or dwords; a negative word or 32-bit value is written as its two's
complement. The Device keeps the outputs this program wrote: the point is set in that image
and the whole image is written, so a second point written on the same Device leaves the
first as it was. (A new Device starts with every output 0.)
"""
import sys

import zeb


def main() -> int:
    if len(sys.argv) != 6 or sys.argv[3] not in ("bits", "words", "dwords"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    reference, slot, kind, index, value = sys.argv[1:]
    with zeb.Transport() as transport:
        with transport.open(reference) as dev:
            points = getattr(dev.outputs[int(slot, 0)], kind)
            points[int(index, 0)] = int(value, 0)
            inputs = dev.write_outputs()
            print(f"wrote slot {slot} {kind}: {list(points)}")
            # The inputs the module answered with, for the slots that have inputs.
            for number, points_in in inputs.items():
                shown = {k: v for k, v in points_in.to_dict().items() if v}
                if shown:
                    print(f"inputs of slot {number}: {shown}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (ValueError, KeyError, IndexError) as e:
        print(f"write_output: {e!r}", file=sys.stderr)
        sys.exit(2)
    except zeb.ZebError as e:
        print(f"write_output: {e}", file=sys.stderr)
        sys.exit(3 if isinstance(e, (zeb.ZebTimeout, zeb.TransportError)) else 1)
