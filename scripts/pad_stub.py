#!/usr/bin/env python3
"""Pads the linked stub to exactly ImageSize (0x9800) bytes, the image size the program
assumes when it looks for its settings block.  Fails, naming the overshoot,
when the linked image is larger, and when the bytes 50 4B 03 04 (the ZIP
local-header signature) occur anywhere in it: the archive walk must never
take the stub itself for an entry.

Two more checks keep a DLL planted beside the file from running:
- the import table may name only KnownDLLs, which Windows maps from the
  system folder whatever the search order (a static import of anything
  else is looked for in the folder of the .exe first, before the program's
  first instruction), and only those whose own imports are harmless: shell32
  pulls in DLLs that are no KnownDLLs, so it is loaded at run time;
- the load configuration directory must point at the program's
  _load_config_used block, whose DependentLoadFlags restrict the imports
  of those DLLs to the system folder.  This linker does not fill that
  directory itself, so it is filled here from the block's bytes.

Before any of that, the headers are folded into one 512-byte step: the
linker's DOS program (64 bytes of code and "This program cannot be run in
DOS mode") is replaced by one of 28 bytes in the DOS header's reserved
words, which says "Win32 only." under DOS; the PE headers then follow the
DOS header at once and, with the five section headers, end at 512 bytes
exactly.  The sections' bytes move down by one step, their addresses in
memory stay.

And some that keep the image an ordinary one, as antivirus heuristics
expect, and keep its room from being lost by accident: only the sections
the stub is laid out with (cmake/stub.ld; no initialised writable data),
512-byte file alignment with headers and sections in order and apart, ASLR
and DEP on (DllCharacteristics DYNAMIC_BASE and NX_COMPAT), and the
relocations kept.  It prints the room left in each section: a section takes
the file in 512-byte steps, so its content can grow to the end of its last
step for free (docs/size.md keeps the ledger)."""
import os
import re
import struct
import sys

# The size the program assumes, from the header that defines it for every
# other part of the project.
FORMAT_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src', 'common', 'SfxFormat.h')
IMAGE_SIZE = int(re.search(r'\bImageSize = (0x[0-9A-Fa-f]+)', open(FORMAT_HEADER).read()).group(1), 16)
KNOWN_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'msvcrt.dll'}
LOAD_CONFIG_SIZE = 0x48
LOAD_CONFIG = struct.pack('<18I', LOAD_CONFIG_SIZE, *([0] * 12), 0x0800 << 16, 0, 0, 0, 0)
LOAD_CONFIG_ENTRY = 10
RELOC_ENTRY = 5
# In the order the image holds them; .bss takes no room in the file.
SECTIONS = ('.text', '.rdata', '.bss', '.rsrc', '.reloc')
FILE_ALIGNMENT = 0x200
SECTION_ALIGNMENT = 0x1000
DYNAMIC_BASE, NX_COMPAT = 0x0040, 0x0100
RELOCS_STRIPPED = 0x0001


def sections(data):
    for _name, vsize, rva, rawsize, raw in section_table(data):
        yield rva, max(vsize, rawsize), raw, rawsize


def section_table(data):
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    count = struct.unpack_from('<H', data, pe + 6)[0]
    optional = struct.unpack_from('<H', data, pe + 20)[0]
    table = pe + 24 + optional
    for i in range(count):
        name, vsize, rva, rawsize, raw = struct.unpack_from('<8sIIII', data, table + 40 * i)
        yield name.rstrip(b'\0').decode('ascii', 'replace'), vsize, rva, rawsize, raw


def check_layout(data):
    """Returns what makes the image no ordinary one or not the stub's layout."""
    faults = []
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    characteristics = struct.unpack_from('<H', data, pe + 22)[0]
    opt = pe + 24
    section_align, file_align = struct.unpack_from('<II', data, opt + 32)
    headers = struct.unpack_from('<I', data, opt + 60)[0]
    dll = struct.unpack_from('<H', data, opt + 70)[0]
    table = list(section_table(data))
    names = tuple(s[0] for s in table)
    if names != SECTIONS:
        faults.append(f"sections {', '.join(names)}; expected {', '.join(SECTIONS)}")
    if file_align != FILE_ALIGNMENT or section_align != SECTION_ALIGNMENT:
        faults.append(f"file alignment {file_align:#x}, section alignment {section_align:#x}; "
                      f"expected {FILE_ALIGNMENT:#x} and {SECTION_ALIGNMENT:#x}")
    if dll & (DYNAMIC_BASE | NX_COMPAT) != DYNAMIC_BASE | NX_COMPAT:
        faults.append(f"DllCharacteristics {dll:#06x} lacks DYNAMIC_BASE or NX_COMPAT (ASLR, DEP)")
    reloc_rva, reloc_size = struct.unpack_from('<II', data, directory_offset(data, RELOC_ENTRY))
    if characteristics & RELOCS_STRIPPED or not reloc_size or '.reloc' not in names:
        faults.append("the relocations are gone, and with them the image's random base")
    at = headers
    for name, vsize, rva, rawsize, raw in table:
        if rva % section_align:
            faults.append(f"{name} starts at RVA {rva:#x}, off the section alignment")
        if rawsize and (raw % file_align or rawsize % file_align or raw < at):
            faults.append(f"{name} lies at {raw:#x} ({rawsize:#x} bytes), overlapping "
                          f"or off the file alignment")
        if rawsize:
            at = raw + rawsize
    if at != len(data):
        faults.append(f"the sections end at {at:#x}, the file at {len(data):#x}")
    return faults


def room(data):
    """Each part of the file with its content, its 512-byte steps and the room left."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    optional = struct.unpack_from('<H', data, pe + 20)[0]
    table = list(section_table(data))
    used = pe + 24 + optional + 40 * len(table)
    steps = struct.unpack_from('<I', data, pe + 24 + 60)[0]
    rows = [('headers', used, steps)]
    for name, vsize, rva, rawsize, raw in table:
        if rawsize:
            rows.append((name, min(vsize, rawsize) if vsize else rawsize, rawsize))
    return rows


def directory_offset(data, entry):
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    return pe + 24 + 96 + 8 * entry          # PE32 optional header


def rva_to_offset(data, rva):
    for start, size, raw, _ in sections(data):
        if start <= rva < start + size:
            return raw + rva - start
    sys.exit(f"stub: RVA {rva:#x} lies in no section")


def offset_to_rva(data, offset):
    for start, _, raw, rawsize in sections(data):
        if raw <= offset < raw + rawsize:
            return start + offset - raw
    sys.exit(f"stub: file offset {offset:#x} lies in no section")


def imported_dlls(data):
    rva = struct.unpack_from('<I', data, directory_offset(data, 1))[0]
    names, at = [], rva_to_offset(data, rva)
    while True:
        name_rva = struct.unpack_from('<IIIII', data, at)[3]
        if name_rva == 0:
            return names
        start = rva_to_offset(data, name_rva)
        names.append(data[start:data.index(b'\0', start)].decode('ascii'))
        at += 20


# push cs; pop ds; mov dx, 0Eh; mov ah, 9; int 21h; mov ax, 4C01h; int 21h,
# then the text: what a DOS program of 32 bytes from offset 0x20 of the
# file runs (the e_res and e_res2 words, which nothing else reads).
DOS_PROGRAM = bytes.fromhex('0e1fba0e00b409cd21b8014ccd21') + b'Win32 only.\r\n$'
DOS_START = 0x20
DOS_HEADER = 0x40


def fold_headers(data):
    """The image with its headers in one step of the file alignment, when
    the DOS program is all that keeps them from it."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    count = struct.unpack_from('<H', data, pe + 6)[0]
    optional = struct.unpack_from('<H', data, pe + 20)[0]
    length = 24 + optional + 40 * count
    headers = struct.unpack_from('<I', data, pe + 24 + 60)[0]
    if pe <= DOS_HEADER or DOS_HEADER + length > FILE_ALIGNMENT or headers <= FILE_ALIGNMENT:
        return data
    if any(data[DOS_START:0x3C]) or struct.unpack_from('<I', data, pe + 12)[0]:
        sys.exit("stub: the DOS header's reserved words or the symbol table are in use")
    shift = headers - FILE_ALIGNMENT
    folded = bytearray(FILE_ALIGNMENT)
    folded[:DOS_HEADER] = data[:DOS_HEADER]
    # A file of one 64-byte page whose header is two paragraphs: the
    # program runs from the header's end.
    struct.pack_into('<HHHH', folded, 2, DOS_HEADER, 1, 0, DOS_START // 16)
    struct.pack_into('<HH', folded, 0x14, 0, 0)                 # e_ip, e_cs
    folded[DOS_START:DOS_START + len(DOS_PROGRAM)] = DOS_PROGRAM
    struct.pack_into('<I', folded, 0x3C, DOS_HEADER)
    folded[DOS_HEADER:DOS_HEADER + length] = data[pe:pe + length]
    struct.pack_into('<I', folded, DOS_HEADER + 24 + 60, FILE_ALIGNMENT)
    table = DOS_HEADER + 24 + optional
    for i in range(count):
        raw = struct.unpack_from('<I', folded, table + 40 * i + 20)[0]
        if raw:
            if raw < headers:
                sys.exit(f"stub: a section lies at {raw:#x}, overlapping the headers")
            struct.pack_into('<I', folded, table + 40 * i + 20, raw - shift)
    return folded + data[headers:]


def fill_load_config(data):
    at = directory_offset(data, LOAD_CONFIG_ENTRY)
    found = data.find(LOAD_CONFIG)
    if found < 0 or data.find(LOAD_CONFIG, found + 1) >= 0:
        sys.exit("stub: the load configuration block is missing or not unique")
    rva = offset_to_rva(data, found)
    current = struct.unpack_from('<II', data, at)
    if current not in ((0, 0), (rva, LOAD_CONFIG_SIZE)):
        sys.exit(f"stub: the load configuration directory points elsewhere: {current}")
    struct.pack_into('<II', data, at, rva, LOAD_CONFIG_SIZE)


def main(src, dst):
    data = fold_headers(bytearray(open(src, 'rb').read()))
    if len(data) > IMAGE_SIZE:
        sys.exit(f"stub: the linked image is {len(data)} bytes, "
                 f"{len(data) - IMAGE_SIZE} over the {IMAGE_SIZE} allowed")
    if bytes.fromhex('504b0304') in data:
        sys.exit("stub: the image contains the local-header signature 50 4B 03 04")
    faults = check_layout(data)
    if faults:
        sys.exit("stub: " + "; ".join(faults))
    unknown = [n for n in imported_dlls(data) if n.lower() not in KNOWN_DLLS]
    if unknown:
        sys.exit(f"stub: imports {', '.join(unknown)}, which Windows would look for beside "
                 f"the file first; load them at run time from the system folder")
    fill_load_config(data)
    print(f"stub: {len(data)} bytes linked, {IMAGE_SIZE - len(data)} to spare")
    for name, content, raw in room(data):
        print(f"stub: {name:8} {content:6} bytes in {raw // FILE_ALIGNMENT:2} steps "
              f"of 512, {raw - content:4} left")
    open(dst, 'wb').write(data + bytes(IMAGE_SIZE - len(data)))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
