#!/usr/bin/env python3
"""Writes the data-file corpus: tests/corpus/valid/*.kbx and tests/corpus/invalid/*.kbx.

The files are committed; run this again only to change them. test_kbxfile reads every file,
and fuzz/corpus/kbx_file holds copies as seeds.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SIG = b"VELMO Music Lib\x00"


def header(size, kind, model=0x1101, area=b""):
    area = area.ljust(40, b"\x00")
    return SIG + struct.pack(">IHH", size, model, kind) + area


def put_name(payload, offset, name):
    payload = bytearray(payload)
    payload[offset:offset + 8] = name.ljust(8, b" ")
    return bytes(payload)


def swapped(name):
    name = name.ljust(8, b" ")
    return b"".join(name[i + 1:i + 2] + name[i:i + 1] for i in range(0, 8, 2))


def pattern(n, seed):
    return bytes((seed + 7 * i) & 0xFF for i in range(n))


valid = {
    "tone_abc.kbx": header(60, 2) + put_name(pattern(60, 1), 36, b"ABC"),
    "tone_katakana_name.kbx": header(60, 2) + put_name(pattern(60, 2), 36, b"\xb1\xb2\xb3\xde"),
    "dsp_hall.kbx": header(36, 9) + put_name(pattern(36, 3), 0, b"Hall 2"),
    "registration_preset01.kbx": header(176, 12, area=swapped(b"Preset01")) + pattern(176, 4),
    "registration_header_only.kbx": header(0, 12, area=swapped(b"Reg")),
    "song_300.kbx": header(300, 10) + put_name(pattern(300, 5), 4, b"MYSONG"),
    "song_two_blocks.kbx": header(256, 10) + put_name(pattern(256, 6), 4, b"Blocks"),
    "rhythm_odd_length.kbx": header(21, 11) + put_name(pattern(21, 7), 2, b"Odd"),
    "dsp_size_below_payload.kbx": header(36, 9) + put_name(pattern(40, 8), 0, b"Extra"),
    "kind_zero.kbx": header(4, 0) + b"\x01\x02\x03\x04",
    "no_model_code.kbx": header(60, 2, model=0) + put_name(pattern(60, 9), 36, b"Import"),
    "tone_short_payload.kbx": header(40, 2) + pattern(40, 10),
}

invalid = {
    "empty.kbx": b"",
    "signature_only.kbx": b"VELMO Music Lib",
    "header_63_bytes.kbx": header(0, 2)[:63],
    "blank_instead_of_zero.kbx": b"VELMO Music Lib " + header(0, 2)[16:],
    "lower_case_letter.kbx": b"VELMO music Lib\x00" + header(0, 2)[16:],
    "size_beyond_end.kbx": header(60, 2) + pattern(59, 11),
    "size_all_ones.kbx": header(0xFFFFFFFF, 10) + pattern(16, 12),
    "text_file.kbx": b"This is not a data file.\n" * 4,
    "signature_at_offset_one.kbx": b"\x00" + header(0, 2)[:63],
}

for folder, files in (("valid", valid), ("invalid", invalid)):
    path = os.path.join(HERE, folder)
    os.makedirs(path, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)
