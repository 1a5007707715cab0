#!/usr/bin/env python3
"""check-program.py PROGRAM ALLOWLIST...: fails unless the built program imports only listed
functions (DLL and name) of the DLLs every Windows 95 has (msvcrt too when 64-bit), is a windows-
subsystem program (4.0 and at most 240 KB when 32-bit), and carries dialog 102, icon 128, version
1.0.0.1 and its manifest as the window needs them."""

import struct
import sys

import pefile

DLLS = {'kernel32', 'user32', 'gdi32', 'comctl32', 'comdlg32', 'advapi32', 'crtdll'}
# Dialog 102: extended template; extended style and style; rectangle; no menu or class of its
# own; title; font size, weight, italic, charset and face.
DIALOG = ((1, 0xFFFF), (0x40000, 0x90C800C0), (0, 0, 246, 73), '', '', 'Flash Upgrade Program',
          (8, 400, 0, 1), 'MS Sans Serif')
# Its controls in tab order: id, class, text, rectangle, style, extended style.
CONTROLS = [(1000, 'combobox', '', (7, 6, 178, 56), 0x50210002, 0),
            (1002, 'edit', '', (7, 22, 163, 14), 0x48810080, 0),
            (1014, 'button', '...', (172, 22, 13, 14), 0x40010000, 0),
            (1009, 'button', 'Save', (189, 6, 50, 14), 0x40010000, 0),
            (1010, 'button', 'Upgrade', (189, 22, 50, 14), 0x50010000, 0),
            (1011, 'button', 'Exit', (189, 45, 50, 14), 0x50010000, 0),
            (1004, 'edit', '', (7, 38, 178, 21), 0x58810084, 0),
            (1001, 'msctls_progress32', 'Progress1', (7, 60, 233, 7), 0x50800000, 0)]
CLASSES = {0x80: 'button', 0x81: 'edit', 0x85: 'combobox'}


def dialog(t):
    """The facts of an extended dialog template, in DIALOG's order, and its controls."""
    def text(at):  # a string, or an ordinal after 0xFFFF; and the offset after it
        if t[at:at + 2] == b'\xff\xff':
            return struct.unpack_from('<H', t, at + 2)[0], at + 4
        end = next(i for i in range(at, len(t), 2) if t[i:i + 2] == b'\0\0')
        return t[at:end].decode('utf-16-le'), end + 2

    head = struct.unpack_from('<HHIIIH4h', t)
    menu, at = text(26)
    window_class, at = text(at)
    title, at = text(at)
    points, weight, italic, charset = struct.unpack_from('<HHBB', t, at)
    face, at = text(at + 6)
    facts = (head[:2], head[3:5], head[6:], menu, window_class, title,
             (points, weight or 400, italic, charset), face)
    controls = []
    for _ in range(head[5]):
        at = (at + 3) & ~3
        _, ex, style, *rect, ident = struct.unpack_from('<III4hI', t, at)
        kind, at = text(at + 24)
        caption, at = text(at)
        controls.append((ident, str(CLASSES.get(kind, kind)).lower(), caption, tuple(rect), style, ex))
        at += 2 + struct.unpack_from('<H', t, at)[0]
    return facts, controls


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
facts, controls = dialog(found[(5, 102)]) if (5, 102) in found else (None, [])
failures += ['dialog 102: %s, want %s' % (facts, DIALOG)] * (facts != DIALOG)
failures += ['controls %s, want %s' % (controls, CONTROLS)] * (controls != CONTROLS)
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
