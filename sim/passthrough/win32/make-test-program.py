#!/usr/bin/env python3
"""Makes the NT-family test copy of a built program and its library's exports.

    make-test-program.py OBJDUMP PROGRAM SOURCE LIBRARY DEF COPY

COPY is PROGRAM with LIBRARY (a name as long as KERNEL32.dll) in place of
KERNEL32.dll and ADVAPI32.dll in its import table; the shipped program stays
as it is. DEF exports from LIBRARY every function PROGRAM imports from the
two: those SOURCE defines as "WINAPI Sim<name>(" are LIBRARY's own, the rest
forward to the real library."""

import re
import subprocess
import sys

objdump, program, source, library, def_path, copy_path = sys.argv[1:]
REPLACED = ('KERNEL32.dll', 'ADVAPI32.dll')

own = re.findall(r'WINAPI Sim(\w+)\(', open(source).read())
imports = {}
dll = None
for line in subprocess.run([objdump, '-p', program], check=True, capture_output=True,
                           text=True).stdout.splitlines():
    named = re.match(r'\s*DLL Name: (\S+)$', line)
    if named:
        dll = named.group(1)
        imports[dll] = []
    elif dll and re.match(r'\s+[0-9a-f]+\s+\d+\s+\w+$', line):
        imports[dll].append(line.split()[-1])
    elif not line.strip():
        dll = None

lines = ['LIBRARY ' + library, 'EXPORTS'] + ['    %s = Sim%s' % (name, name) for name in own]
for dll in REPLACED:
    if dll not in imports:
        sys.exit('%s imports nothing from %s' % (program, dll))
    base = dll.split('.')[0]
    lines += ['    %s = %s.%s' % (name, base, name) for name in imports[dll] if name not in own]
with open(def_path, 'w') as out:
    out.write('\n'.join(lines) + '\n')

data = open(program, 'rb').read()
assert len(library) == len(REPLACED[0]) == len(REPLACED[1]), 'names of one length'
for dll in REPLACED:
    name = dll.encode() + b'\0'
    if data.count(name) != 1:
        sys.exit('%s names %s %d times' % (program, dll, data.count(name)))
    data = data.replace(name, library.encode() + b'\0')
with open(copy_path, 'wb') as out:
    out.write(data)
