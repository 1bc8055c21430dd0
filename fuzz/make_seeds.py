#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target into fuzz/corpus/<target>/: small inputs that
reach every part of the reader, valid ones and the faults talvik refuses. Frames come from
the zstd tool (compressed blocks) or are laid out here (raw and RLE blocks). Run again after
a format change; the same inputs come out each time."""
import pathlib
import struct
import subprocess
import zlib

here = pathlib.Path(__file__).resolve().parent


def write(target, name, data):
    folder = here / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def checksum(body):
    crc = zlib.crc32(body)
    return crc if crc != 0 else 1


def entry(name, body, stored=None):
    return (name.encode("utf-16-le") + b"\0\0" + struct.pack("<QI", len(body), checksum(body) if stored is None else stored)
            + body)


def stream(entries):
    return b"".join(entries) + b"\0\0"


def compress(data, level):
    return subprocess.run(["zstd", "-q", "-c", "--no-check", f"-{level}"], input=data, check=True,
                          stdout=subprocess.PIPE).stdout


def wrap(frame):
    block = b"KAY" + frame
    block += b"\0" * (-len(block) % 8)
    return block + struct.pack("<Q", len(block))


def raw_frame(data, blocks=()):
    """A frame of raw blocks holding data, then the given (type, size, byte) blocks."""
    frame = struct.pack("<I", 0xFD2FB528) + bytes([0x00, 0x50])
    pieces = [data[at:at + 65536] for at in range(0, len(data), 65536)] or [b""]
    for index, piece in enumerate(pieces):
        last = index + 1 == len(pieces) and not blocks
        frame += struct.pack("<I", (len(piece) << 3) | int(last))[:3] + piece
    for index, (kind, size, byte) in enumerate(blocks):
        last = index + 1 == len(blocks)
        frame += struct.pack("<I", (size << 3) | (kind << 1) | int(last))[:3] + bytes([byte])
    return frame


app = b"MZ" + bytes(range(256)) * 2
sample = [entry("app.exe", app), entry("data\\one.txt", b"one"), entry("empty", b""),
          entry("\u6570\u636e\\\U0001F600.bin", b"x" * 3000)]
blocks = {
    "valid_level3": wrap(compress(stream(sample), 3)),
    "valid_level19": wrap(compress(stream(sample), 19)),
    "valid_raw": wrap(raw_frame(stream(sample))),
    "end_marker_only": wrap(compress(b"\0\0", 1)),
    "many_empty_entries": wrap(compress(entry("a", b"") * 2000 + b"\0\0", 1)),
    "endless_body": wrap(raw_frame(b"a\0\0\0" + struct.pack("<QI", 1 << 62, 1), [(1, 131072, 0)] * 4)),
    "name_leaves_tree": wrap(compress(stream([entry("app.exe", app), entry("..\\..\\x.txt", b"x")]), 3)),
    "drive_name": wrap(compress(stream([entry("C:x", app)]), 3)),
    "name_too_long": wrap(compress(stream([entry("n" * 1024, b"x")]), 3)),
    "checksum_mismatch": wrap(compress(stream([entry("app.exe", app, stored=7)]), 3)),
    "after_end_marker": wrap(compress(stream(sample) + b"more", 3)),
    "no_trailer": b"KAY" + compress(stream(sample), 3),
}
for name, data in blocks.items():
    write("entry_stream_reader", name, data)
    write("attached_data_listing", name, data)

# Stamps without their closing CRC-32, which the target adds; the identity, company and
# product the target's image has.
identity = 0x0123456789ABCDEF
company = "Fernwick Studio".encode("utf-16-le")
product = "Orrin Deck".encode("utf-16-le")


def stamp(records, count=None, names=(company, product)):
    body = b"TLVKSTMP" + struct.pack("<IIQII", 2, len(records) if count is None else count, identity,
                                     len(names[0]) // 2, len(names[1]) // 2) + names[0] + names[1]
    for size, time, name in records:
        units = name.encode("utf-16-le")
        body += struct.pack("<QQI", size, time, len(units) // 2) + units
    return body


tree = [(514, 133000000000000000, "app.exe"), (3, 133000000000000001, "data\\one.txt"),
        (0, 133000000000000002, "data\\deeper\\empty"), (3000, 133000000000000003, "\u6570\u636e\\x.bin")]
write("stamp_parser", "tree", stamp(tree))
write("stamp_parser", "name_twice", stamp(tree + [tree[1]]))
write("stamp_parser", "count_too_large", stamp(tree, count=40))
write("stamp_parser", "other_image", stamp(tree)[:16] + struct.pack("<Q", 1) + stamp(tree)[24:])
write("stamp_parser", "empty_name", stamp([(1, 1, "")]))
write("stamp_parser", "other_product", stamp(tree, names=(company, "Orrin Dock".encode("utf-16-le"))))
write("stamp_parser", "product_too_long", stamp(tree, names=(company, product + b"\0\0" * 2000)))


def pe_image(descriptor_size=80, subsystem=3):
    """A small PE32+ image as talvik lays one out: .rdata holding the descriptor, .talvik
    holding the attached data and the four texts."""
    rdata_rva, talvik_rva = 0x1000, 0x2000
    attached = blocks["valid_level3"]
    texts = b""
    offsets = []
    for text in ("{CACHE_DIR}\\Fuzz\\1.0", "Fuzz Co", "Fuzz", "1.0.0.0"):
        offsets.append(talvik_rva + len(attached) + len(texts))
        texts += text.encode("utf-16-le") + b"\0\0"
    talvik = attached + texts
    talvik += b"\0" * (-len(talvik) % 0x200)
    descriptor = bytes("TALVIK-IMAGE-DSC", "ascii") + struct.pack(
        "<IIIIIIQQIIQII", descriptor_size, offsets[0], offsets[1], offsets[2], offsets[3], talvik_rva,
        len(attached), 0x1122334455667788, 1, 1, len(stream(sample)), 0, 0)
    rdata = (b"\0" * 16 + descriptor).ljust(0x200, b"\0")
    headers = bytearray(0x400)
    headers[0:2] = b"MZ"
    struct.pack_into("<I", headers, 0x3C, 0x40)
    headers[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", headers, 0x44, 0x8664, 2, 0, 0, 0, 240, 0x22)
    optional = 0x58
    struct.pack_into("<H", headers, optional, 0x20B)
    struct.pack_into("<II", headers, optional + 32, 0x1000, 0x200)
    struct.pack_into("<II", headers, optional + 56, talvik_rva + len(talvik) + 0x1000 & ~0xFFF, 0x400)
    struct.pack_into("<HH", headers, optional + 68, subsystem, 0x8160)
    struct.pack_into("<I", headers, optional + 108, 16)
    sections = optional + 240
    for index, (name, rva, raw, size) in enumerate(
            [(b".rdata", rdata_rva, 0x400, len(rdata)), (b".talvik", talvik_rva, 0x400 + len(rdata), len(talvik))]):
        struct.pack_into("<8sIIII12xI", headers, sections + 40 * index, name, size, rva, size, raw, 0x40000040)
    return bytes(headers) + rdata + talvik


write("pe_image_reader", "image", pe_image())
write("pe_image_reader", "image_first_descriptor", pe_image(descriptor_size=48, subsystem=2))
write("pe_image_reader", "bare_stub_descriptor", pe_image(descriptor_size=0))
write("pe_image_reader", "dos_header_only", pe_image()[:0x40])
