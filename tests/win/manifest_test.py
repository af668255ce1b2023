#!/usr/bin/env python3
"""The stub's manifest as Windows' own parser reads it: well-formed XML with
its declaration, asInvoker, the common controls 6 (visual styles), DPI
awareness (per-monitor v2, system-aware where that is unknown) and every
Windows from 7 to 11 as supported; and the image carries it byte for byte.
   manifest_test.py MANIFEST STUB"""
import sys
import xml.etree.ElementTree as ET

manifest, stub = sys.argv[1], sys.argv[2]
raw = open(manifest, 'rb').read()
failures = []


def check(ok, what):
    print(('ok     ' if ok else 'FAILED ') + what)
    if not ok:
        failures.append(what)


check(raw.startswith(b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'), 'the XML declaration comes first')
root = ET.fromstring(raw)
ns = {'v1': 'urn:schemas-microsoft-com:asm.v1', 'v3': 'urn:schemas-microsoft-com:asm.v3',
      'c': 'urn:schemas-microsoft-com:compatibility.v1', 'w5': 'http://schemas.microsoft.com/SMI/2005/WindowsSettings',
      'w16': 'http://schemas.microsoft.com/SMI/2016/WindowsSettings'}
level = root.find('v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel', ns)
check(level is not None and level.get('level') == 'asInvoker', 'asInvoker')
controls = root.find('v1:dependency/v1:dependentAssembly/v1:assemblyIdentity', ns)
check(controls is not None and controls.get('name') == 'Microsoft.Windows.Common-Controls' and
      controls.get('version') == '6.0.0.0' and controls.get('publicKeyToken') == '6595b64144ccf1df',
      'the common controls 6')
systems = {e.get('Id') for e in root.findall('c:compatibility/c:application/c:supportedOS', ns)}
for name, guid in [('7', '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}'), ('8', '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}'),
                   ('8.1', '{1f676c76-80e1-4239-95bb-83d0f6d0da78}'), ('10 and 11', '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}')]:
    check(guid in systems, 'supported: Windows ' + name)
aware = root.find('v3:application/v3:windowsSettings/w5:dpiAware', ns)
awareness = root.find('v3:application/v3:windowsSettings/w16:dpiAwareness', ns)
check(aware is not None and aware.text == 'true', 'system DPI awareness where per-monitor is unknown')
check(awareness is not None and awareness.text.split(',')[0].strip() == 'PerMonitorV2', 'per-monitor v2 DPI awareness')
check(raw in open(stub, 'rb').read(), 'the stub carries the manifest')
sys.exit(1 if failures else 0)
