#!/usr/bin/env python3
# same-companies.py EXTRACTED DATA: every file of every company folder of the
# data folder (top level, as the program archives them) equals the one
# extracted, and no company and no file is missing or extra. Status 1 and the
# differences otherwise.
import os, sys
out, data = sys.argv[1], sys.argv[2]
companies = sorted(d for d in os.listdir(data) if os.path.isdir(os.path.join(data, d)))
ok = sorted(os.listdir(out)) == companies
count = 0
for c in companies:
    files = sorted(f for f in os.listdir(os.path.join(data, c)) if os.path.isfile(os.path.join(data, c, f)))
    got = sorted(os.listdir(os.path.join(out, c))) if os.path.isdir(os.path.join(out, c)) else []
    if got != files:
        print("  %s: %s, on disk %s" % (c, got, files)); ok = False
        continue
    for f in files:
        count += 1
        if open(os.path.join(out, c, f), "rb").read() != open(os.path.join(data, c, f), "rb").read():
            print("  %s\\%s differs" % (c, f)); ok = False
print("  %d companies, %d files compared" % (len(companies), count))
sys.exit(0 if ok else 1)
