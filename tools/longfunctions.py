#!/usr/bin/env python3
"""Lists the functions of product code that are longer than a limit (default 80 lines).

    tools/longfunctions.py [LIMIT]

Product code is every tracked .cpp and .h file outside tests/ and fuzz/ that is not a
test_/tst_ file. A function is a definition whose body closes at the indentation of its
signature (free functions, members defined in or out of their class); lines are counted
from the signature to the closing brace. Exit status 1 when any is found."""
import os, re, subprocess, sys

limit = int(sys.argv[1]) if len(sys.argv) > 1 else 80
root = subprocess.run(['git', 'rev-parse', '--show-toplevel'],
                      capture_output=True, text=True).stdout.strip()
files = subprocess.run(['git', '-C', root, 'ls-files', '*.cpp', '*.h'],
                       capture_output=True, text=True).stdout.split()
not_functions = re.compile(r'^\s*(if|else|for|while|switch|do|return|namespace|class|struct|'
                           r'enum|union|using|typedef|template|case|catch|try)\b')
signature = re.compile(r'^(\s*)[A-Za-z_~:][^;#=]*\(')
found = []
for f in files:
    base = os.path.basename(f)
    if f.startswith(('tests/', 'fuzz/')) or base.startswith(('test_', 'tst_')):
        continue
    lines = open(os.path.join(root, f), errors='replace').read().split('\n')
    i = 0
    while i < len(lines):
        m = signature.match(lines[i])
        if not m or not_functions.match(lines[i]) or lines[i].lstrip().startswith(('//', '*')):
            i += 1
            continue
        indent = m.group(1)
        j = i
        while j < len(lines) and j < i + 12:
            text = lines[j].rstrip()
            if text.endswith(';') or (j > i and signature.match(lines[j]) and not lines[j].startswith(indent + ' ')):
                j = len(lines)
                break
            if text == indent + '{' or (text.endswith('{') and '=' not in text):
                break
            j += 1
        if j >= len(lines) or j >= i + 12:
            i += 1
            continue
        k = j + 1
        closing = re.compile('^' + indent + r'\}')
        while k < len(lines) and not closing.match(lines[k]):
            k += 1
        if k < len(lines):
            n = k - i + 1
            if n > limit:
                name = lines[i].split('(')[0].split()[-1] if lines[i].split('(')[0].split() else '?'
                found.append((n, f, i + 1, name))
            i = k
        i += 1
for n, f, line, name in sorted(found, reverse=True):
    print(f'{n:5d}  {f}:{line}  {name}')
sys.exit(1 if found else 0)
