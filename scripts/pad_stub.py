#!/usr/bin/env python3
"""Pads the linked stub to exactly 0x9800 bytes, the image size the program
assumes when it looks for its settings block.  Fails, naming the overshoot,
when the linked image is larger, and when the bytes 50 4B 03 04 (the ZIP
local-header signature) occur anywhere in it: the archive walk must never
take the stub itself for an entry."""
import sys

IMAGE_SIZE = 0x9800

def main(src, dst):
    data = open(src, 'rb').read()
    if len(data) > IMAGE_SIZE:
        sys.exit(f"stub: the linked image is {len(data)} bytes, "
                 f"{len(data) - IMAGE_SIZE} over the {IMAGE_SIZE} allowed")
    if bytes.fromhex('504b0304') in data:
        sys.exit("stub: the image contains the local-header signature 50 4B 03 04")
    print(f"stub: {len(data)} bytes linked, {IMAGE_SIZE - len(data)} to spare")
    open(dst, 'wb').write(data + bytes(IMAGE_SIZE - len(data)))

if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
