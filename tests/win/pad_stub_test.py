#!/usr/bin/env python3
"""scripts/pad_stub.py against the linked stub and against copies of it each
spoiled in one way it must refuse: the guards that keep the image small,
ordinary and safe to start from a downloads folder.
   pad_stub_test.py PAD_STUB LINKED_IMAGE"""
import os
import struct
import subprocess
import sys
import tempfile

pad, image = sys.argv[1], sys.argv[2]
original = open(image, 'rb').read()
pe = struct.unpack_from('<I', original, 0x3C)[0]
opt = pe + 24
table = opt + struct.unpack_from('<H', original, pe + 20)[0]
count = struct.unpack_from('<H', original, pe + 6)[0]


def section_header(name):
    for i in range(count):
        if original[table + 40 * i:table + 40 * i + 8].rstrip(b'\0') == name:
            return table + 40 * i
    sys.exit(f"no {name.decode()} in the image")


def rename_section(old, new):
    def spoil(d):
        d[section_header(old):section_header(old) + 8] = new.ljust(8, b'\0')
    return spoil


def clear_bits(offset, size, bits):
    def spoil(d):
        fmt = '<H' if size == 2 else '<I'
        struct.pack_into(fmt, d, offset, struct.unpack_from(fmt, d, offset)[0] & ~bits)
    return spoil


def set_bits(offset, size, bits):
    def spoil(d):
        fmt = '<H' if size == 2 else '<I'
        struct.pack_into(fmt, d, offset, struct.unpack_from(fmt, d, offset)[0] | bits)
    return spoil


def put(offset, value):
    def spoil(d):
        struct.pack_into('<I', d, offset, value)
    return spoil


def replace(old, new):
    def spoil(d):
        at = d.find(old)
        d[at:at + len(new)] = new
    return spoil


def grow(d):
    # One byte too many once the headers are folded into one step.
    d.extend(bytes(0x9800 + 1 + 0x200 - len(d)))


# (what is spoiled, how, what the refusal names)
CASES = [
    ("initialised writable data", rename_section(b'.rdata', b'.data'), "sections"),
    ("a section of another name", rename_section(b'.rsrc', b'.rsrc2'), "sections"),
    ("no ASLR", clear_bits(opt + 70, 2, 0x0040), "DYNAMIC_BASE"),
    ("no DEP", clear_bits(opt + 70, 2, 0x0100), "NX_COMPAT"),
    ("relocations stripped", set_bits(pe + 22, 2, 0x0001), "relocations"),
    ("no relocation directory", put(opt + 96 + 8 * 5 + 4, 0), "relocations"),
    ("file alignment of a page", put(opt + 36, 0x1000), "alignment"),
    ("headers over the first section", put(section_header(b'.text') + 20, 0x200), "overlapping"),
    ("a DLL beside the file", replace(b'USER32.dll', b'MPR.dll\0\0\0'), "MPR.dll"),
    ("too large", grow, "over the"),
    ("a local-header signature", replace(b'\0\0\0\0\0\0\0\0', bytes.fromhex('504b0304')), "50 4B 03 04"),
]

failures = 0
with tempfile.TemporaryDirectory() as scratch:
    def run(data):
        src, dst = os.path.join(scratch, 'in.exe'), os.path.join(scratch, 'out.exe')
        open(src, 'wb').write(data)
        r = subprocess.run([sys.executable, pad, src, dst], capture_output=True, text=True)
        return r.returncode, r.stdout + r.stderr, dst

    code, out, dst = run(original)
    if code != 0 or os.path.getsize(dst) != 0x9800:
        print(f"FAIL: the stub as linked is refused: {out}")
        failures += 1
    elif "steps of 512" not in out:
        print(f"FAIL: no room per section in: {out}")
        failures += 1
    else:
        # The headers folded into one step, the sections' bytes moved down by
        # one, and a DOS program that still says what the file is.
        padded = open(dst, 'rb').read()
        first = struct.unpack_from('<I', padded, 0x40 + 24 + struct.unpack_from('<H', padded, 0x40 + 20)[0] + 20)[0]
        if (struct.unpack_from('<I', padded, 0x3C)[0] != 0x40 or padded[0x40:0x44] != b'PE\0\0' or
                struct.unpack_from('<I', padded, 0x40 + 24 + 60)[0] != 0x200 or first != 0x200 or
                padded[0x200:0x300] != original[0x400:0x500] or b'Win32 only.\r\n$' not in padded[:0x40]):
            print("FAIL: the headers are not folded into one step")
            failures += 1
    for what, spoil, named in CASES:
        data = bytearray(original)
        spoil(data)
        code, out, _ = run(bytes(data))
        if code == 0 or named not in out:
            print(f"FAIL: {what}: exit {code}, expected a refusal naming '{named}': {out.strip()}")
            failures += 1
        else:
            print(f"ok: {what}: {out.strip()}")
sys.exit(1 if failures else 0)
