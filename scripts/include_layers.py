#!/usr/bin/env python3
"""Keeps the folders layered: no folder includes from a folder above it or beside it.

Each quoted #include in src/ and sys/ is resolved to the file it names; the folder of that
file must stand lower in LAYERS than the including folder (folders in one layer may not
include each other). Prints every offending line; exits 1 if there is one.
    scripts/include_layers.py
"""
import os
import re
import sys

# Lowest first. The page folders share a layer: pages never include each other.
LAYERS = [
    ['sys/include'],
    ['sys/registry', 'sys/toolhelp', 'sys/helperclient'],
    ['sys/netmgr'],
    ['sys/iphlp'],
    ['sys/helper'],
    ['src/values'],
    ['src/platform'],
    ['src/session'],
    ['src/widgets'],
    ['src/hostinfo', 'src/interfaces', 'src/routing', 'src/connections', 'src/report',
     'src/addresses'],
    ['src/shell'],
]
RANK = {folder: rank for rank, layer in enumerate(LAYERS) for folder in layer}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path):
    parts = path.split('/')
    return '/'.join(parts[:2]) if len(parts) > 2 else None


def resolve(including, name, sys_folders):
    for base in [os.path.dirname(including), 'src', 'sys'] + sys_folders:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None


def main():
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
    sys_folders = sorted(f'sys/{d}' for d in os.listdir('sys') if os.path.isdir(f'sys/{d}'))
    faults = []
    for top in ('src', 'sys'):
        for root, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith(('.c', '.cpp', '.h')):
                    continue
                path = os.path.join(root, name)
                here = folder_of(path)
                if here not in RANK:
                    faults.append(f'{path}: folder {here} has no layer')
                    continue
                with open(path, encoding='utf-8', errors='replace') as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = resolve(path, match.group(1), sys_folders)
                        there = folder_of(target) if target else None
                        if there is None or there == here:
                            continue
                        if there not in RANK:
                            faults.append(f'{path}:{number}: {there} has no layer')
                        elif RANK[there] >= RANK[here]:
                            faults.append(f'{path}:{number}: {here} includes {match.group(1)} '
                                          f'from {there}, which is not below it')
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
