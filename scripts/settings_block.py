#!/usr/bin/env python3
"""Writes a settings block (magic "QBW", block length, flags, four lengths and
texts in code page 949) for hand-made self-extracting files:
    settings_block.py OUT [--caption T] [--folder T] [--params T] [--run T]
                          [--flags1 N] [--flags2 N]"""
import argparse, struct

p = argparse.ArgumentParser()
p.add_argument('out')
for name in ('caption', 'folder', 'params', 'run'):
    p.add_argument('--' + name, default='')
p.add_argument('--flags1', type=lambda s: int(s, 0), default=0)
p.add_argument('--flags2', type=lambda s: int(s, 0), default=0)
a = p.parse_args()
texts = [t.encode('cp949') for t in (a.caption, a.folder, a.params, a.run)]
for t in texts:
    if len(t) > 255:
        raise SystemExit('settings_block: a text is longer than 255 bytes')
length = 11 + sum(len(t) for t in texts)
block = b'QBW' + struct.pack('<HBB', length, a.flags1, a.flags2) + bytes(len(t) for t in texts)
open(a.out, 'wb').write(block + b''.join(texts))
