#!/usr/bin/env python3
"""check-program.py PROGRAM ALLOWLIST...: fails unless the built program imports only listed
functions (DLL and name) of the DLLs every Windows 95 has (msvcrt too when 64-bit), is a windows-
subsystem program (4.0 and at most 240 KB when 32-bit), and carries dialog 102 (its layout is the
resource script's), icon 128, version 1.0.0.1 and its manifest as the window needs them."""

import struct
import sys

import pefile

DLLS = {'kernel32', 'user32', 'gdi32', 'comctl32', 'comdlg32', 'advapi32', 'crtdll'}

program, *allow_lists = sys.argv[1:]
lines = (line.split('#')[0].split() for path in allow_lists for line in open(path))
allowed = {(words[0].lower(), words[1]) for words in lines if words}
pe = pefile.PE(program)
wide = pe.PE_TYPE == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS
h = pe.OPTIONAL_HEADER
subsystem = (h.Subsystem, h.MajorSubsystemVersion, h.MinorSubsystemVersion)
failures = ['subsystem %d %d.%d' % subsystem] * (subsystem[0] != 2 or (
    not wide and subsystem[1:] != (4, 0)))
failures += ['%d bytes, more than 240 KB' % len(pe.__data__)] * (
    not wide and len(pe.__data__) > 240 * 1024)
imports = {e.dll.decode(): [i.name.decode() if i.name else '#%d' % i.ordinal for i in e.imports]
           for e in pe.DIRECTORY_ENTRY_IMPORT}
for dll, names in sorted(imports.items()):
    base = dll.lower().removesuffix('.dll')
    failures += ['imports from %s' % dll] * (base not in DLLS and (base, wide) != ('msvcrt', True))
    failures += ['%s!%s is not allowed' % (dll, n) for n in names if (base, n) not in allowed]

found = {}
for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    for name in kind.directory.entries:
        data = name.directory.entries[0].data.struct
        found[(kind.id, name.id)] = pe.get_data(data.OffsetToData, data.Size)
failures += ['no dialog 102'] * ((5, 102) not in found)
group = found.get((14, 128), bytes(6))
icons = [struct.unpack_from('<BBBB4xIH', group, 6 + 14 * i) for i in range(group[4])]
depths = [struct.unpack_from('<H', found.get((3, icon[-1]), bytes(16)), 14)[0] for icon in icons]
failures += ['icon 128: %s, %s bits' % (icons, depths)] * (
    sorted(icon[:3] for icon in icons) != [(16, 16, 16), (32, 32, 16)] or set(depths) != {4})
fixed = getattr(pe, 'VS_FIXEDFILEINFO', [None])[0]
failures += ['version is not 1.0.0.1 of an application'] * (not fixed or (
    fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS,
    fixed.FileType) != (0x10000, 1, 0x10000, 1, 1))
failures += ['version resource carries a string table'] * (
    'StringFileInfo'.encode('utf-16-le') in found.get((16, 1), b''))
manifest = found.get((24, 1), b'').decode('utf-8', 'replace')
failures += ['manifest does not ask for administrator'] * ('"requireAdministrator"' not in manifest)
failures += ['manifest names the common-controls assembly'] * ('Common-Controls' in manifest)

print('%s: %d imports from %s' % (program, sum(map(len, imports.values())),
                                 ', '.join(sorted(imports))))
print(''.join('FAIL: %s\n' % message for message in failures), end='')
sys.exit(1 if failures else 0)
