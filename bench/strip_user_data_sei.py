#!/usr/bin/env python3
"""Copies an H.264 Annex B stream without its user-data SEI messages (payload
type 5, where x264 writes its version and settings), so that the base view
holds only the units a disc's base view would.

    strip_user_data_sei.py IN.264 OUT.264     (IN may be - for standard input)
"""

import sys

from derive_dependent_view import (SEI, USER_DATA_UNREGISTERED, annexb_units, escape,
                                   sei_message, sei_messages, unescape)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: strip_user_data_sei.py IN.264 OUT.264")
    dropped = 0
    with open(sys.argv[2], "wb") as out:
        for prefix, unit in annexb_units(sys.argv[1]):
            if unit and unit[0] == SEI:
                messages = sei_messages(unescape(unit[1:]))
                kept = [m for m in messages if m[0] != USER_DATA_UNREGISTERED]
                dropped += len(messages) - len(kept)
                if not kept:
                    continue
                if len(kept) < len(messages):
                    body = b"".join(sei_message(k, p) for k, p in kept) + b"\x80"
                    unit = bytes([SEI]) + escape(body)
            out.write(prefix + unit)
    print(f"{sys.argv[2]}: {dropped} user-data SEI message(s) removed")


if __name__ == "__main__":
    main()
