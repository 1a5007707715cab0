#!/usr/bin/env python3
"""Checks a built FlashUpgrade.exe without running it.

    check-program.py PROGRAM --allow LIST [--allow LIST...]

Reads the PE headers, the import table and the resources, and fails unless:
- the program imports only from KERNEL32, USER32, GDI32, COMCTL32, COMDLG32,
  ADVAPI32 and msvcrt, and only functions named in the allow lists;
- it is a windows-subsystem program; a 32-bit one asks for subsystem 4.0;
- dialog 102 is laid out control by control as the window needs it;
- icon 128 holds a 32 x 32 and a 16 x 16 image of 16 colours;
- the version block says 1.0.0.1, an application, with no string table;
- the manifest asks for administrator rights and names no common-controls
  assembly (the window keeps the classic controls)."""

import argparse
import struct
import sys

ALLOWED_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'comctl32.dll', 'comdlg32.dll',
                'advapi32.dll', 'msvcrt.dll'}

WS_POPUP, WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x80000000, 0x40000000, 0x10000000, 0x08000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
WS_VSCROLL, WS_HSCROLL, WS_TABSTOP = 0x00200000, 0x00100000, 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
WS_EX_APPWINDOW = 0x00040000
CBS_DROPDOWN, ES_MULTILINE, ES_AUTOHSCROLL, BS_PUSHBUTTON = 0x2, 0x4, 0x80, 0x0

DIALOG_STYLE = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
CHILD, SHOWN = WS_CHILD, WS_CHILD | WS_VISIBLE
# id, class, text, (x, y, w, h), style: template order is tab and stacking order.
CONTROLS = [
    (1000, 'combobox', '', (7, 6, 178, 56), SHOWN | CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP),
    (1002, 'edit', '', (7, 22, 163, 14),
     CHILD | WS_DISABLED | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP),
    (1014, 'button', '...', (172, 22, 13, 14), CHILD | BS_PUSHBUTTON | WS_TABSTOP),
    (1009, 'button', 'Save', (189, 6, 50, 14), CHILD | BS_PUSHBUTTON | WS_TABSTOP),
    (1010, 'button', 'Upgrade', (189, 22, 50, 14), SHOWN | BS_PUSHBUTTON | WS_TABSTOP),
    (1011, 'button', 'Exit', (189, 45, 50, 14), SHOWN | BS_PUSHBUTTON | WS_TABSTOP),
    (1004, 'edit', '', (7, 38, 178, 21),
     SHOWN | WS_DISABLED | ES_MULTILINE | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP),
    (1001, 'msctls_progress32', 'Progress1', (7, 60, 233, 7), SHOWN | WS_BORDER),
]
ATOM_CLASSES = {0x80: 'button', 0x81: 'edit', 0x82: 'static', 0x83: 'listbox',
                0x84: 'scrollbar', 0x85: 'combobox'}
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24


class Failures:
    def __init__(self):
        self.messages = []

    def check(self, condition, message):
        if not condition:
            self.messages.append(message)
        return condition


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('not a PE file')
        sections, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
        self.optional = pe + 24
        self.magic = struct.unpack_from('<H', data, self.optional)[0]
        self.wide = self.magic == 0x20B
        (self.os_major, self.os_minor, _, _, self.subsystem_major,
         self.subsystem_minor) = struct.unpack_from('<6H', data, self.optional + 40)
        self.subsystem = struct.unpack_from('<H', data, self.optional + 68)[0]
        directories = self.optional + (112 if self.wide else 96)
        self.directories = [struct.unpack_from('<II', data, directories + 8 * i)
                            for i in range(16)]
        table = self.optional + optional_size
        self.sections = [struct.unpack_from('<8xIIII', data, table + 40 * i)
                         for i in range(sections)]

    def offset(self, rva):
        for size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError('address 0x%x is in no section' % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b'\0', start)].decode('ascii')

    def imports(self):
        """{dll name: [function names]} from the import directory."""
        result = {}
        rva = self.directories[1][0]
        if rva == 0:
            return result
        at = self.offset(rva)
        thunk_size, ordinal_flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
        while True:
            lookup, _, _, name, first = struct.unpack_from('<5I', self.data, at)
            if name == 0:
                break
            functions = []
            thunk = self.offset(lookup or first)
            while True:
                value = int.from_bytes(self.data[thunk:thunk + thunk_size], 'little')
                if value == 0:
                    break
                functions.append('#%d' % (value & 0xFFFF) if value & ordinal_flag
                                 else self.c_string((value & 0x7FFFFFFF) + 2))
                thunk += thunk_size
            result[self.c_string(name)] = functions
            at += 20
        return result

    def resources(self):
        """{(type, id): bytes} for every resource with numeric type and id."""
        base_rva = self.directories[2][0]
        result = {}
        if base_rva == 0:
            return result
        base = self.offset(base_rva)

        def entries(offset):
            named, numbered = struct.unpack_from('<12xHH', self.data, base + offset)
            for i in range(named + numbered):
                yield struct.unpack_from('<II', self.data, base + offset + 16 + 8 * i)

        for type_id, type_at in entries(0):
            for name_id, name_at in entries(type_at & 0x7FFFFFFF):
                for _, leaf in entries(name_at & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from('<II', self.data, base + leaf)
                    start = self.offset(data_rva)
                    if not (type_id & 0x80000000 or name_id & 0x80000000):
                        result[(type_id, name_id)] = self.data[start:start + size]
        return result


def read_list(path):
    names = set()
    with open(path) as f:
        for line in f:
            line = line.split('#', 1)[0].strip()
            if line:
                names.add(line)
    return names


class TemplateReader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from('<' + fmt, self.data, self.at)
        self.at += struct.calcsize('<' + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b'\0\0':
            end += 2
        value = self.data[self.at:end].decode('utf-16-le')
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        if self.data[self.at:self.at + 2] == b'\xff\xff':
            self.at += 2
            return self.take('H')
        return self.text()

    def align(self):
        self.at = (self.at + 3) & ~3


def check_dialog(template, failures):
    r = TemplateReader(template)
    version, signature, _, ex_style, style, count, x, y, cx, cy = r.take('HHIIIHhhhh')
    failures.check((version, signature) == (1, 0xFFFF), 'dialog 102 is not an extended template')
    failures.check(style == DIALOG_STYLE, 'dialog style 0x%08x, want 0x%08x' % (style, DIALOG_STYLE))
    failures.check(ex_style == WS_EX_APPWINDOW, 'dialog extended style 0x%08x' % ex_style)
    failures.check((x, y, cx, cy) == (0, 0, 246, 73), 'dialog rectangle %s' % ((x, y, cx, cy),))
    menu, window_class, title = r.name_or_ordinal(), r.name_or_ordinal(), r.text()
    failures.check(menu == '' and window_class == '', 'dialog has a menu or a class of its own')
    failures.check(title == 'Flash Upgrade Program', 'dialog title %r' % title)
    points, weight, italic, charset = r.take('HHBB')
    face = r.text()
    failures.check((points, face, italic) == (8, 'MS Sans Serif', 0),
                   'dialog font %r %d italic %d' % (face, points, italic))
    failures.check(weight in (0, 400) and charset == 1,
                   'dialog font weight %d charset %d' % (weight, charset))
    failures.check(count == len(CONTROLS), '%d controls, want %d' % (count, len(CONTROLS)))
    for expected in CONTROLS[:count]:
        r.align()
        _, ex, style, x, y, cx, cy, control_id = r.take('IIIhhhhI')
        window_class = r.name_or_ordinal()
        if isinstance(window_class, int):
            window_class = ATOM_CLASSES.get(window_class, '#%d' % window_class)
        text = r.name_or_ordinal()
        extra = r.take('H')
        r.at += extra
        want_id, want_class, want_text, want_rect, want_style = expected
        label = 'control %d' % want_id
        failures.check(control_id == want_id, '%s: found id %d in its place' % (label, control_id))
        failures.check(window_class.lower() == want_class, '%s: class %s' % (label, window_class))
        failures.check(text == want_text, '%s: text %r' % (label, text))
        failures.check((x, y, cx, cy) == want_rect, '%s: rectangle %s' % (label, (x, y, cx, cy)))
        failures.check(style == want_style,
                       '%s: style 0x%08x, want 0x%08x' % (label, style, want_style))
        failures.check(ex == 0, '%s: extended style 0x%08x' % (label, ex))


def check_icon(resources, failures):
    group = resources.get((RT_GROUP_ICON, 128))
    if not failures.check(group is not None, 'no icon 128'):
        return
    _, kind, count = struct.unpack_from('<HHH', group, 0)
    images = [struct.unpack_from('<BBBBHHIH', group, 6 + 14 * i) for i in range(count)]
    sizes = sorted((w, h) for w, h, *_ in images)
    failures.check(sizes == [(16, 16), (32, 32)], 'icon 128 images %s' % sizes)
    for w, h, colours, _, _, bits, _, image_id in images:
        image = resources.get((RT_ICON, image_id), b'')
        depth = struct.unpack_from('<H', image, 14)[0] if len(image) >= 16 else 0
        failures.check(colours == 16 and depth == 4,
                       'icon 128 image %dx%d: %d colours, %d bits' % (w, h, colours, depth))


def check_version(resources, failures):
    block = resources.get((RT_VERSION, 1))
    if not failures.check(block is not None, 'no version resource'):
        return
    fixed = block.find(struct.pack('<I', 0xFEEF04BD))
    if not failures.check(fixed >= 0, 'version resource without its fixed part'):
        return
    (_, _, file_ms, file_ls, product_ms, product_ls, _, _, _, file_type,
     _) = struct.unpack_from('<11I', block, fixed)
    failures.check((file_ms, file_ls, product_ms, product_ls) ==
                   (0x00010000, 1, 0x00010000, 1), 'version is not 1.0.0.1')
    failures.check(file_type == 1, 'file type %d is not an application' % file_type)
    failures.check('StringFileInfo'.encode('utf-16-le') not in block,
                   'version resource carries a string table')


def check_manifest(resources, failures):
    manifest = resources.get((RT_MANIFEST, 1))
    if not failures.check(manifest is not None, 'no manifest'):
        return
    text = manifest.decode('utf-8', 'replace')
    failures.check('level="requireAdministrator"' in text, 'manifest does not ask for administrator')
    failures.check('Common-Controls' not in text, 'manifest names the common-controls assembly')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('program')
    parser.add_argument('--allow', action='append', required=True)
    args = parser.parse_args()
    with open(args.program, 'rb') as f:
        pe = Pe(f.read())
    allowed = set()
    for path in args.allow:
        allowed |= read_list(path)
    failures = Failures()

    failures.check(pe.subsystem == 2, 'subsystem %d is not windows' % pe.subsystem)
    if not pe.wide:
        failures.check((pe.subsystem_major, pe.subsystem_minor) == (4, 0),
                       'subsystem version %d.%d' % (pe.subsystem_major, pe.subsystem_minor))
    imports = pe.imports()
    for dll, functions in sorted(imports.items()):
        failures.check(dll.lower() in ALLOWED_DLLS, 'imports from %s' % dll)
        for name in functions:
            failures.check(name in allowed, '%s!%s is not allowed' % (dll, name))

    resources = pe.resources()
    dialog = resources.get((RT_DIALOG, 102))
    if failures.check(dialog is not None, 'no dialog 102'):
        check_dialog(dialog, failures)
    check_icon(resources, failures)
    check_version(resources, failures)
    check_manifest(resources, failures)

    print('%s: %d imports from %s' % (args.program, sum(len(f) for f in imports.values()),
                                     ', '.join(sorted(imports))))
    for message in failures.messages:
        print('FAIL: ' + message)
    return 1 if failures.messages else 0


if __name__ == '__main__':
    sys.exit(main())
