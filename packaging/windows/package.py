#!/usr/bin/env python3
"""Helpers of the Windows packages (standard library only).

    package.py text VERSION SRC DST    SRC with @VERSION@ filled in, as Windows' Notepad
                                       reads Polish text everywhere: UTF-8 with a BOM, CRLF
    package.py zip OUT TOP FILE...     the zip OUT holding each FILE in folder TOP

The zip is made here rather than with Info-ZIP's zip: Python is already needed,
and every entry gets a fixed order, time and attributes, so the same files
always make the same zip. The time is SOURCE_DATE_EPOCH's when set, else the
newest file's.
"""

import os
import sys
import time
import zipfile


def text(version, src, dst):
    with open(src, encoding="utf-8") as f:
        body = f.read().replace("@VERSION@", version)
    with open(dst, "w", encoding="utf-8-sig", newline="\r\n") as f:
        f.write(body)


def make_zip(out, top, files):
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    stamp = int(epoch) if epoch else max(int(os.stat(f).st_mtime) for f in files)
    # A zip keeps local time to two seconds, from 1980 on.
    when = time.gmtime(max(stamp, 315532800))[:6]
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w") as z:
        for path in sorted(files, key=os.path.basename):
            info = zipfile.ZipInfo(top + "/" + os.path.basename(path), when)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0          # MS-DOS attributes, as Windows writes them
            info.external_attr = 0x20       # FILE_ATTRIBUTE_ARCHIVE
            with open(path, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(tmp, out)


def main(argv):
    if len(argv) == 4 and argv[0] == "text":
        text(*argv[1:])
        return 0
    if len(argv) >= 4 and argv[0] == "zip":
        make_zip(argv[1], argv[2], argv[3:])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
