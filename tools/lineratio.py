#!/usr/bin/env python3
"""Prints the lines of tests against the lines of the product.

    tools/lineratio.py [REPO]

Counts every tracked source file (.cpp .h .c .qml .js .py .sh .cmake, CMakeLists.txt).
Tests are everything under tests/ and fuzz/, the test scripts of tools/ and every
test_/tst_ file; the product is the rest."""
import os, re, subprocess, sys
root = sys.argv[1] if len(sys.argv) > 1 else '.'
files = subprocess.run(['git', '-C', root, 'ls-files'], capture_output=True, text=True).stdout.split()
code = re.compile(r'(\.(cpp|h|hpp|c|qml|js|py|sh|cmake)|CMakeLists\.txt)$')
test_scripts = {'tools/test.sh', 'tools/faults.sh', 'tools/fuzz.sh', 'tools/mutants.sh',
                'tools/install-test.sh', 'tools/test-arm64.sh'}
t = p = 0
for f in files:
    if not code.search(f): continue
    n = sum(1 for _ in open(os.path.join(root, f), errors='replace'))
    base = os.path.basename(f)
    if f.startswith(('tests/', 'fuzz/')) or f in test_scripts or base.startswith(('test_', 'tst_')):
        t += n
    else:
        p += n
print(f'tests {t} product {p} ratio {t/p:.2f}')
