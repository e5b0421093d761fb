#!/usr/bin/env python3
"""Derives a synthetic MVC dependent view from an H.264 base view.

    derive_dependent_view.py BASE.264 OUT.mvc

Access unit by access unit, the dependent view gets what a demuxed 3D disc
carries next to its base view: a dependent delimiter (type 24), a subset SPS
(type 15, Stereo High), the PPS, the buffering period and picture timing
messages nested in one MVC nesting SEI (payload type 37), and the slices as
coded slice extensions (type 20, view 1). The slice data is the base view's
own, so the result is well formed for muxing but does not decode to a second
picture. Every unit keeps the start code it had in the input.

The input is read in windows of a few MiB, so files of any size take the same
memory.
"""

import sys

WINDOW = 8 << 20
START = b"\x00\x00\x01"

SEI = 6
USER_DATA_UNREGISTERED = 5
MVC_NESTING = 37


def annexb_units(path):
    """Yields (prefix, unit) for each NAL unit: prefix is the zero bytes and
    the 00 00 01 in front of the unit, unit the header byte and payload.
    A path of "-" reads standard input."""
    f = sys.stdin.buffer if path == "-" else open(path, "rb")
    with f:
        buf = bytearray()
        eof = False
        begin = -1  # where the current unit's prefix begins in buf
        unit_at = 0  # where the current unit begins in buf
        scan = 0  # where the search for the next start code goes on
        while True:
            at = buf.find(START, scan)
            if at < 0:
                if eof:
                    if begin >= 0:
                        yield bytes(buf[begin:unit_at]), bytes(buf[unit_at:]).rstrip(b"\x00")
                    return
                # Drop what was used, keep the unit in progress, load more.
                # Before the first unit, only the trailing zeros may open it.
                keep = begin if begin >= 0 else len(buf.rstrip(b"\x00"))
                del buf[:keep]
                if begin >= 0:
                    begin, unit_at = 0, unit_at - keep
                else:
                    unit_at = 0
                scan = max(len(buf) - 2, unit_at)
                chunk = f.read(WINDOW)
                eof = not chunk
                buf += chunk
                continue
            end = at
            while end > unit_at and buf[end - 1] == 0:
                end -= 1
            # Bytes before the first start code belong to no unit.
            if begin >= 0:
                yield bytes(buf[begin:unit_at]), bytes(buf[unit_at:end])
            begin = end
            unit_at = scan = at + 3


def unescape(data):
    """Removes the emulation-prevention bytes (00 00 03 -> 00 00)."""
    if b"\x00\x00\x03" not in data:
        return bytes(data)
    out = bytearray()
    zeros = 0
    for b in data:
        if zeros >= 2 and b == 3:
            zeros = 0
            continue
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def escape(rbsp):
    """Inserts an emulation-prevention byte wherever two zeros precede a byte
    of 3 or less."""
    out = bytearray()
    zeros = 0
    for b in rbsp:
        if zeros >= 2 and b <= 3:
            out.append(3)
            zeros = 0
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def sei_messages(rbsp):
    """Splits an SEI payload (after the header byte, unescaped) into
    (payload_type, payload) pairs."""
    messages = []
    i = 0
    # The last byte is the trailing 0x80.
    while i < len(rbsp) - 1:
        kind = 0
        while rbsp[i] == 0xFF:
            kind += 255
            i += 1
        kind += rbsp[i]
        i += 1
        size = 0
        while rbsp[i] == 0xFF:
            size += 255
            i += 1
        size += rbsp[i]
        i += 1
        messages.append((kind, rbsp[i:i + size]))
        i += size
    return messages


def ff_coded(value):
    return b"\xff" * (value // 255) + bytes([value % 255])


def sei_message(kind, payload):
    return ff_coded(kind) + ff_coded(len(payload)) + payload


class BitWriter:
    def __init__(self):
        self.bits = []

    def u(self, n, value):
        self.bits += [(value >> (n - 1 - k)) & 1 for k in range(n)]

    def ue(self, value):
        code = value + 1
        self.u(2 * code.bit_length() - 1, code)

    def rbsp_trailing(self):
        self.bits.append(1)
        while len(self.bits) % 8:
            self.bits.append(0)

    def to_bytes(self):
        return bytes(int("".join(map(str, self.bits[k:k + 8])), 2)
                     for k in range(0, len(self.bits), 8))


def subset_sps(sps_unit):
    """A Stereo High subset SPS for views 0 and 1 from the base view's SPS:
    the same sequence data, then the MVC extension (view 1 predicts from view
    0 at anchors and elsewhere, one operation point with both views)."""
    rbsp = bytearray(unescape(sps_unit[1:]))
    rbsp[0] = 128  # profile_idc: Stereo High
    level_idc = rbsp[2]
    # Cut the rbsp trailing bits: the stop bit is the last one bit.
    bits = "".join(f"{b:08b}" for b in rbsp).rstrip("0")[:-1]
    w = BitWriter()
    w.bits = [int(c) for c in bits]
    w.u(1, 1)  # bit_equal_to_one
    w.ue(1)  # num_views_minus1
    w.ue(0)  # view_id[0]
    w.ue(1)  # view_id[1]
    for _ in ("anchor", "non-anchor"):
        w.ue(1)  # refs in list 0 for view 1 ...
        w.ue(0)  # ... the base view
        w.ue(0)  # no refs in list 1
    w.ue(0)  # num_level_values_signalled_minus1
    w.u(8, level_idc)
    w.ue(0)  # num_applicable_ops_minus1
    w.u(3, 0)  # applicable_op_temporal_id
    w.ue(1)  # applicable_op_num_target_views_minus1
    w.ue(0)  # target view 0
    w.ue(1)  # target view 1
    w.ue(1)  # applicable_op_num_views_minus1
    w.u(1, 0)  # mvc_vui_parameters_present_flag
    w.u(1, 0)  # additional_extension2_flag
    w.rbsp_trailing()
    return bytes([(sps_unit[0] & 0x60) | 15]) + escape(w.to_bytes())


def mvc_nesting_sei(messages):
    """One SEI unit nesting `messages` for view 1."""
    w = BitWriter()
    w.u(1, 0)  # operation_point_flag
    w.u(1, 0)  # all_view_components_in_au_flag
    w.ue(0)  # num_view_components_minus1
    w.u(10, 1)  # sei_view_id[0]
    while len(w.bits) % 8:
        w.u(1, 0)  # sei_nesting_zero_bit
    nested = w.to_bytes() + b"".join(sei_message(k, p) for k, p in messages)
    return bytes([SEI]) + escape(sei_message(MVC_NESTING, nested) + b"\x80")


def slice_extension(unit):
    """A base-view slice as a coded slice extension of view 1."""
    idr = unit[0] & 0x1F == 5
    w = BitWriter()
    w.u(1, 0)  # svc_extension_flag
    w.u(1, 0 if idr else 1)  # non_idr_flag
    w.u(6, 0)  # priority_id
    w.u(10, 1)  # view_id
    w.u(3, 0)  # temporal_id
    w.u(1, 1 if idr else 0)  # anchor_pic_flag
    w.u(1, 0)  # inter_view_flag: no other view predicts from view 1
    w.u(1, 1)  # reserved_one_bit
    return bytes([(unit[0] & 0x60) | 20]) + w.to_bytes() + unit[1:]


def derive(base_path, out_path):
    counts = {}
    seis = []  # the SEI messages waiting for the next non-SEI unit
    sei_prefix = None
    subset = None
    with open(out_path, "wb") as out:
        write = out.write
        for prefix, unit in annexb_units(base_path):
            if not unit:
                continue
            kind = unit[0] & 0x1F
            counts[kind] = counts.get(kind, 0) + 1
            if kind == SEI:
                if sei_prefix is None:
                    sei_prefix = prefix
                seis += [m for m in sei_messages(unescape(unit[1:]))
                         if m[0] != USER_DATA_UNREGISTERED]
                continue
            if seis:
                write(sei_prefix + mvc_nesting_sei(seis))
            seis, sei_prefix = [], None
            if kind == 9:
                write(prefix + bytes([0x18]) + unit[1:])
            elif kind == 7:
                # x264 repeats the same SPS; build its subset SPS once.
                if subset is None or subset[0] != unit:
                    subset = (unit, subset_sps(unit))
                write(prefix + subset[1])
            elif kind == 8:
                write(prefix + unit)
            elif kind in (1, 5):
                write(prefix + slice_extension(unit))
            # Anything else (filler, end of sequence) has no dependent copy.
        if seis:
            write(sei_prefix + mvc_nesting_sei(seis))
    return counts


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: derive_dependent_view.py BASE.264 OUT.mvc")
    counts = derive(sys.argv[1], sys.argv[2])
    summary = ", ".join(f"type {k}: {v}" for k, v in sorted(counts.items()))
    print(f"{sys.argv[2]}: from {summary}")


if __name__ == "__main__":
    main()
