#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets, tests/fuzz/corpus/<target>/.

Seeds are cut from the sample pairs in tests/data, in each target's input
format (see the comment at the top of each fuzz_*.cpp), plus a few hand-made
cases for the corners the samples do not show. Each seed file is named after
what it holds. Run it after changing an input format; it replaces the corpus.
"""

import pathlib
import shutil

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE.parent / "data"
CORPUS = HERE / "corpus"

START_CODE = b"\x00\x00\x01"
MUX_SEPARATOR = b"\x00\x00\x02mvc"
MUX_SEED_LIMIT = 64 * 1024
READER_SEED_BYTES = 2048

# SpsInfo field order, as fuzz_sei_pic_timing reads one byte per field.
SPS_FIELDS = [
    "nal_ref_idc", "nal_unit_type", "profile_idc", "level_idc", "chroma_format_idc",
    "separate_colour_plane_flag", "pic_order_cnt_type", "num_ref_frames_in_pic_order_cnt_cycle",
    "pic_width_in_mbs_minus1", "pic_height_in_map_units_minus1", "frame_mbs_only_flag",
    "frame_cropping_flag", "frame_crop_left_offset", "frame_crop_right_offset",
    "frame_crop_top_offset", "frame_crop_bottom_offset", "vui_parameters_present_flag",
    "aspect_ratio_idc", "timing_info_present_flag", "num_units_in_tick", "time_scale",
    "fixed_frame_rate_flag", "nal_hrd_parameters_present_flag", "cpb_cnt_minus1",
    "initial_cpb_removal_delay_length_minus1", "cpb_removal_delay_length_minus1",
    "dpb_output_delay_length_minus1", "time_offset_length", "vcl_hrd_parameters_present_flag",
    "pic_struct_present_flag",
]
# The fields of the samples' SPS that shape a picture timing message.
JM_SPS = {"nal_ref_idc": 3, "nal_unit_type": 7, "profile_idc": 100, "pic_struct_present_flag": 1}
X264_SPS = {"nal_ref_idc": 3, "nal_unit_type": 7, "profile_idc": 100,
            "nal_hrd_parameters_present_flag": 1, "cpb_removal_delay_length_minus1": 9,
            "dpb_output_delay_length_minus1": 6, "pic_struct_present_flag": 1}
# Byte 0xF8 stands for 32 in fuzz_sei_pic_timing: a delay length past 32 bits.
WIDE_HRD_SPS = {"nal_hrd_parameters_present_flag": 1, "cpb_removal_delay_length_minus1": 0xF8,
                "dpb_output_delay_length_minus1": 31, "time_offset_length": 0xF8,
                "pic_struct_present_flag": 1}


def sps_bytes(fields):
    return bytes(fields.get(name, 0) for name in SPS_FIELDS)


def split_units(stream):
    """Units between start codes, as the reference splitter cuts them."""
    units, begin, pos = [], 0, 0
    while pos < len(stream):
        if stream.startswith(START_CODE, pos):
            units.append(stream[begin:pos])
            pos += 3
            begin = pos
        else:
            pos += 1
    units.append(stream[begin:])
    trimmed = [u[:-1] if u.endswith(b"\x00") else u for u in units]
    return [u for u in trimmed if u]


def access_unit_offsets(stream, delimiter_header):
    """Offsets of the start codes (with a leading zero, if any) of each delimiter."""
    offsets, pos = [], stream.find(START_CODE + bytes([delimiter_header]))
    while pos >= 0:
        offsets.append(pos - 1 if pos > 0 and stream[pos - 1] == 0 else pos)
        pos = stream.find(START_CODE + bytes([delimiter_header]), pos + 3)
    return offsets


def first_access_units(stream, delimiter_header, count, limit):
    """The first `count` access units of a stream, fewer if they pass `limit` bytes."""
    ends = access_unit_offsets(stream, delimiter_header)[1:] + [len(stream)]
    ends = [end for end in ends[:count] if end <= limit]
    return stream[: ends[-1]] if ends else stream[:limit]


class BitWriter:
    def __init__(self):
        self.bits = []

    def u(self, value, width):
        self.bits += [(value >> (width - 1 - i)) & 1 for i in range(width)]
        return self

    def ue(self, value):
        code = value + 1
        return self.u(0, code.bit_length() - 1).u(code, code.bit_length())

    def unit(self):
        """The bits with rbsp trailing bits, as bytes with emulation prevention."""
        bits = self.bits + [1] + [0] * ((7 - len(self.bits)) % 8)
        raw = bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
        out = bytearray()
        for byte in raw:
            if len(out) >= 2 and out[-1] == 0 and out[-2] == 0 and byte <= 3:
                out.append(3)
            out.append(byte)
        return bytes(out)


def sps_head(profile_idc=100):
    w = BitWriter().u(0x67, 8).u(profile_idc, 8).u(0, 8).u(30, 8).ue(0)
    return w


def sps_tail(w, vui=None):
    """From max_num_ref_frames on, for a writer that has written the picture order count part."""
    w.ue(4).u(0, 1)  # max_num_ref_frames, gaps_in_frame_num_value_allowed_flag
    w.ue(119).ue(67).u(1, 1).u(1, 1)  # size, frame_mbs_only_flag, direct_8x8_inference_flag
    w.u(1, 1).ue(0).ue(0).ue(0).ue(4)  # cropping
    w.u(1 if vui else 0, 1)
    if vui:
        vui(w)
    return w.unit()


def hrd(w, cpb_count, length_minus1, time_offset_length):
    w.ue(cpb_count - 1).u(4, 4).u(5, 4)
    for i in range(cpb_count):
        w.ue(2000 + i).ue(3000 + i).u(i % 2, 1)
    w.u(23, 5).u(length_minus1, 5).u(length_minus1, 5).u(time_offset_length, 5)


def handmade_sps():
    scaling = sps_head().ue(1).ue(0).ue(0).u(0, 1).u(1, 1)  # 4:2:0, scaling matrix present
    scaling.u(0, 1).u(0, 1).u(1, 1)  # the third list is signalled
    poc_cycle = sps_head(77).ue(0).ue(1).u(0, 1).ue(3).ue(4).ue(3)  # type 1, three offsets
    for offset in (1, 4, 5):
        poc_cycle.ue(offset)

    def both_hrd(w):
        w.u(1, 1).u(255, 8).u(4, 16).u(3, 16)  # extended sample aspect ratio
        w.u(1, 1).u(1, 1).u(1, 1).u(5, 3).u(0, 1).u(1, 1).u(1, 24)  # overscan, video signal
        w.u(1, 1).ue(1).ue(1)  # chroma location
        w.u(1, 1).u(1001, 32).u(60000, 32).u(1, 1)  # timing
        w.u(1, 1)
        hrd(w, 2, 23, 24)
        w.u(1, 1)
        hrd(w, 1, 11, 12)
        w.u(0, 1).u(1, 1).u(1, 1)  # low_delay_hrd_flag, pic_struct_present_flag, restriction
        w.u(1, 1).ue(2).ue(1).ue(16).ue(15).ue(2).ue(4)

    four_four_four = sps_head(244).ue(3).u(1, 1).ue(0).ue(0).u(0, 1).u(0, 1)
    return {
        "scaling_list": sps_tail(scaling),
        "poc_type_1_cycle": sps_tail(poc_cycle),
        "vui_with_nal_and_vcl_hrd": sps_tail(sps_head().ue(1).ue(0).ue(0).u(0, 1).u(0, 1)
                                             .ue(4).ue(0).ue(4), both_hrd),
        "separate_colour_planes": sps_tail(four_four_four.ue(4).ue(2)),
        "header_only": b"\x67",
        "forbidden_bit": b"\xe7\x64\x00\x1e",
        "not_sps": b"\x68\xee\x3c\x80",
    }


def pic_timing_unit(pic_struct, timestamps, delays=None):
    """A picture timing SEI unit; `timestamps` lists (full, offset bits) per clock timestamp."""
    w = BitWriter()
    if delays:
        for value, width in delays:
            w.u(value, width)
    w.u(pic_struct, 4)
    for full, offset_width in timestamps:
        w.u(1, 1).u(2, 2).u(0, 1).u(4, 5).u(full, 1).u(0, 1).u(0, 1).u(29, 8)
        if full:
            w.u(59, 6).u(59, 6).u(23, 5)
        else:
            w.u(1, 1).u(30, 6).u(1, 1).u(12, 6).u(1, 1).u(7, 5)
        if offset_width:
            w.u((1 << offset_width) - 1, offset_width)
    payload = w.unit()
    return bytes([0x06, 0x01, len(payload)]) + payload + b"\x80"


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def sample(name):
    return (DATA / name).read_bytes()


def reader_seeds():
    # Byte 0: load size 16 + b % 241; byte 1: unit limit 8 + 4 b.
    headers = [(0, 255), (1, 128), (48, 255), (240, 255)]
    names = ["MVCDS-4.264", "MVCDS-4.mvc", "MVCSPS-1.mvc", "jm_320x240_sei.264",
             "jm_320x240_sei.mvc", "x264_360p.264", "x264_360p.mvc", "MVCRP_3.mvc"]
    for i, name in enumerate(names):
        load, limit = headers[i % len(headers)]
        write("fuzz_nal_reader", name.replace(".", "_") + "_head",
              bytes([load, limit]) + sample(name)[:READER_SEED_BYTES])
    long_unit = b"\x00\x00\x01\x65" + bytes(range(1, 200)) * 2 + b"\x00\x00\x01\x09\x10"
    handmade = {
        "empty_stream": b"",
        "five_byte_start_code": b"\x00\x00\x00\x00\x01\x09\x10",
        "bytes_before_the_first_start_code": b"\xaa\xbb\x00\x00\x01\x09\x10",
        "trailing_zeros": b"\x00\x00\x01\x65\x11\x00\x00\x00",
        "ends_in_a_start_code": b"\x00\x00\x01\x68\xce\x00\x00\x01",
        "zero_run_between_units": b"\x00\x00\x01\x09\x10" + bytes(40) + b"\x01\x65\x88",
        "empty_units": b"\x00\x00\x01\x00\x00\x01\x00\x00\x00\x01\x41\x9a",
        "unit_at_the_limit": (b"\x00\x00\x01" + b"\x41" + b"\xab" * 7 + b"\x00\x00\x01" +
                              b"\x41" + b"\xab" * 8),
    }
    for name, stream in handmade.items():
        write("fuzz_nal_reader", name, b"\x00\x00" + stream)
    write("fuzz_nal_reader", "unit_longer_than_a_load", b"\x00\x30" + long_unit)


def sps_seeds():
    # The MVC samples share one SPS; x264 repeats its own.
    for name in ["MVCDS-4.264", "jm_320x240_sei.264", "x264_360p.264"]:
        unit = next(u for u in split_units(sample(name)) if u[0] & 0x1F == 7)
        write("fuzz_sps_parser", f"{name.split('.')[0]}_sps", bytes([len(unit) // 2]) + unit)
    # A subset SPS opens with the SPS syntax: as an SPS it parses up to its extension.
    for name in ["MVCDS-4.mvc", "jm_320x240_sei.mvc"]:
        subset = next(u for u in split_units(sample(name)) if u[0] & 0x1F == 15)
        write("fuzz_sps_parser", f"{name.split('.')[0]}_subset_sps_as_sps",
              bytes([len(subset) // 2, 0x67]) + subset[1:])
    for name, unit in handmade_sps().items():
        write("fuzz_sps_parser", name, bytes([len(unit) // 2]) + unit)


def sei_seeds():
    for name, fields in [("jm_320x240_sei.264", JM_SPS), ("x264_360p.264", X264_SPS)]:
        seis = [u for u in split_units(sample(name)) if u[0] == 0x06]
        picked = {}
        for unit in seis:
            picked.setdefault(unit[1], []).append(unit)
        stem = name.split(".")[0]
        for payload_type, units in picked.items():
            for i, unit in enumerate(units[:3]):
                write("fuzz_sei_pic_timing", f"{stem}_payload_type_{payload_type}_{i}",
                      sps_bytes(fields) + unit)
    nesting = next(u for u in split_units(sample("jm_320x240_sei.mvc")) if u[0] == 0x06)
    write("fuzz_sei_pic_timing", "mvc_nesting_sei", sps_bytes(JM_SPS) + nesting)
    write("fuzz_sei_pic_timing", "three_full_timestamps_with_offsets",
          sps_bytes(dict(JM_SPS, time_offset_length=24)) +
          pic_timing_unit(5, [(1, 24), (0, 24), (1, 24)]))
    write("fuzz_sei_pic_timing", "delays_wider_than_32_bits",
          sps_bytes(WIDE_HRD_SPS) +
          pic_timing_unit(8, [(0, 32)] * 3, delays=[(0xFFFFFFFF, 32), (0x12345678, 32)]))
    write("fuzz_sei_pic_timing", "reserved_pic_struct",
          sps_bytes(JM_SPS) + pic_timing_unit(12, []))
    write("fuzz_sei_pic_timing", "header_only", sps_bytes(JM_SPS) + b"\x06")


def mux_seed(base, dependent, header):
    """A pair in the mux target's format, both cut to whole access units to fit the limit."""
    room = MUX_SEED_LIMIT - len(header) - len(MUX_SEPARATOR)
    base_part = first_access_units(base, 0x09, 1 << 20, room * 2 // 3)
    base_count = len(access_unit_offsets(base_part, 0x09))
    dependent_part = first_access_units(dependent, 0x18, base_count, room - len(base_part))
    return bytes(header) + base_part + MUX_SEPARATOR + dependent_part


def mux_seeds():
    # Bytes 0 and 1: load sizes 16 + b; byte 2: bit 0 --cues, bit 1 -r.
    headers = [(0, 0, 0), (1, 48, 1), (240, 16, 2), (100, 200, 3)]
    pairs = sorted(p.stem for p in DATA.glob("*.264") if p.with_suffix(".mvc").exists())
    for i, stem in enumerate(pairs):
        write("fuzz_mux", f"{stem}_pair",
              mux_seed(sample(stem + ".264"), sample(stem + ".mvc"), headers[i % len(headers)]))

    def stream(*units):
        return b"".join(b"\x00\x00\x00\x01" + bytes(u) for u in units)

    aud_i, aud_p, aud_b, dep_aud = [0x09, 0x10], [0x09, 0x30], [0x09, 0x50], [0x18, 0x10]
    idr, p, b = [0x65, 0x88, 0x84], [0x41, 0x9A, 0x02], [0x01, 0x9E, 0x04]
    ext, ext_ref = [0x14, 0x80, 0x11], [0x74, 0x80, 0x12]
    sps = next(u for u in split_units(sample("MVCDS-4.264")) if u[0] & 0x1F == 7)
    subset = next(u for u in split_units(sample("MVCDS-4.mvc")) if u[0] & 0x1F == 15)
    base = stream(aud_i, sps, [0x68, 0xEE, 0x3C, 0x80], [0x06, 0x01, 0x01, 0x80], idr,
                  aud_p, p, aud_b, b)
    dependent = stream(dep_aud, subset, [0x68, 0xEF, 0x3C, 0x80], ext_ref, dep_aud, ext,
                       dep_aud, ext)
    handmade = {
        "empty_views": (b"", b""),
        "small_pair_with_parameter_sets": (base, dependent),
        "base_view_only": (base, b""),
        "more_dependent_access_units": (stream(aud_i, idr), dependent),
        "views_swapped": (dependent, base),
        "end_of_sequence_inside": (stream(aud_i, idr, [0x0A], aud_p, p), dependent),
        "delimiter_without_picture_type": (stream([0x09], idr, [0x09], p), dependent),
        "units_before_the_first_delimiter": (stream([0x06, 0x00, 0x01, 0x80], aud_p, p, aud_i,
                                                    idr), dependent),
        # The base view's parameter sets come with a P frame, after the first
        # frame is on file: the track header must not land inside its cluster.
        "parameter_sets_after_the_first_frame": (
            stream(aud_i, idr, aud_p, sps, [0x68, 0xEE, 0x3C, 0x80], p), dependent),
    }
    for name, (base_view, dependent_view) in handmade.items():
        write("fuzz_mux", name, b"\x00\x10\x01" + base_view + MUX_SEPARATOR + dependent_view)


def main():
    if CORPUS.exists():
        shutil.rmtree(CORPUS)
    reader_seeds()
    sps_seeds()
    sei_seeds()
    mux_seeds()


if __name__ == "__main__":
    main()
