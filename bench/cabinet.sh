#!/bin/sh
# Cabinet benchmark on two ledger-like data shapes of MEGABYTES each, packed
# and unpacked by qvcab (MSZIP and LZX), gcab (MSZIP only: it cannot write
# LZX), cabextract, 7zz and bsdtar, all in one run on the same data:
#   registers  8 companies: large dBase-like journals, text registers, some
#              incompressible scans, a few small files;
#   mixed      20 companies, ~1000 files: many small tables of four layouts
#              with their index files, printed reports (cp1250), attachments
#              that are already compressed, tiny settings files;
#   flat       one folder of this machine's own files under their own names:
#              programs and libraries, documents, translations (.mo) and C
#              headers, as a program folder holds them.
# Each step runs QV_BENCH_RUNS times; the median time counts, and the largest
# peak memory. Per shape it prints wall time, MB/s, compression ratio and peak
# memory of every step, then our figures against the other tools' and the
# targets; also the LZX size against MSZIP and what reading the new archive
# back costs against making it ("Twórz archiwum" checks every archive before
# it replaces the old one; qvcab test runs that same check). Not a test: it
# prints figures and checks that every extraction gives back the data.
#
#   bench/cabinet.sh [MEGABYTES]      (default 200; 20 and 800 check memory)
# QV_BENCH_RUNS:   runs per step (default 3)
# QV_BENCH_SHAPES: shapes to run (default "registers mixed flat")
# QV_BENCH_LZX:    0 leaves out the LZX steps (slow at 800 MB)
# QV_BENCH_BUILD:  build folder for a Release qvcab (default build-bench)
# QV_BENCH_DIR:    scratch folder (default a new one under /tmp, removed after)
# QV_CAB_THREADS:  threads qvcab compresses with (default: the cores, at most 4)
set -eu
MB=${1:-200}
RUNS=${QV_BENCH_RUNS:-3}
SHAPES=${QV_BENCH_SHAPES:-registers mixed flat}
LZX=${QV_BENCH_LZX:-1}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QV_BENCH_BUILD:-$ROOT/build-bench}
if [ -n "${QV_BENCH_DIR:-}" ]; then
    WORK=$QV_BENCH_DIR
    mkdir -p "$WORK"
else
    WORK=$(mktemp -d /tmp/qvbench.XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
fi

for tool in gcab cabextract 7zz bsdtar python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target qvcab >/dev/null
QVCAB=$BUILD/tools/qvcab/qvcab

generate_registers() {
python3 - "$1" "$MB" <<'PY'
import os, random, struct, sys
root, total = sys.argv[1], int(sys.argv[2]) * 1000 * 1000
rnd = random.Random(2005)
names = ["KOWALSKI JAN", "NOWAK ANNA", "ZAKLAD USLUG SP. Z O.O.", "PHU MAREK", "HURTOWNIA WISLA",
         "BIURO RACHUNKOWE", "PIEKARNIA", "TRANSPORT KRAJOWY", "SKLEP SPOZYWCZY", "APTEKA POD ORLEM"]
accounts = ["%03d-%02d-%03d" % (rnd.randrange(100, 900), rnd.randrange(100), rnd.randrange(1000)) for _ in range(400)]
companies = 8
per_company = total // companies
def dbf(path, size):
    reclen = 128
    count = max(1, (size - 32 - 33) // reclen)
    fields = [(b"DATA", b"D", 8), (b"KONTO", b"C", 12), (b"OPIS", b"C", 40), (b"KONTRAHENT", b"C", 30),
              (b"WINIEN", b"N", 14), (b"MA", b"N", 14), (b"NRDOK", b"C", 9)]
    with open(path, "wb") as f:
        hlen = 32 + 32 * len(fields) + 1
        f.write(struct.pack("<BBBBIHH20x", 3, 105, 3, 3, count, hlen, reclen))
        for n, t, l in fields:
            f.write(n.ljust(11, b"\0") + t + b"\0\0\0\0" + bytes([l, 2 if t == b"N" else 0]) + b"\0" * 14)
        f.write(b"\r")
        buf = []
        for i in range(count):
            amount = rnd.randrange(1, 10**7) / 100
            dr = rnd.random() < 0.5
            rec = (b" " + b"2005%02d%02d" % (rnd.randrange(1, 13), rnd.randrange(1, 29)) +
                   rnd.choice(accounts).encode().ljust(12) +
                   (b"FAKTURA VAT NR %d/%d" % (rnd.randrange(1, 999), 2005)).ljust(40) +
                   rnd.choice(names).encode().ljust(30) +
                   (b"%14.2f" % amount if dr else b" " * 14) + (b" " * 14 if dr else b"%14.2f" % amount) +
                   (b"%09d" % i))
            buf.append(rec)
            if len(buf) == 4096:
                f.write(b"".join(buf)); buf = []
        f.write(b"".join(buf) + b"\x1a")
def text(path, size):
    with open(path, "wb") as f:
        written = 0
        while written < size:
            lines = []
            for _ in range(2000):
                lines.append(("%s  %-12s %-30s %12.2f PLN\r\n" % ("2005-%02d-%02d" % (rnd.randrange(1, 13), rnd.randrange(1, 29)),
                              rnd.choice(accounts), rnd.choice(names), rnd.randrange(1, 10**7) / 100)).encode())
            chunk = b"".join(lines)
            f.write(chunk); written += len(chunk)
for c in range(1, companies + 1):
    d = os.path.join(root, "FIRMA%02d" % c)
    os.makedirs(d, exist_ok=True)
    dbf(os.path.join(d, "DZIENNIK.DBF"), per_company * 55 // 100)
    dbf(os.path.join(d, "KONTA.DBF"), per_company * 10 // 100)
    text(os.path.join(d, "REJESTR.TXT"), per_company * 25 // 100)
    with open(os.path.join(d, "SKANY.BIN"), "wb") as f:
        f.write(rnd.randbytes(per_company * 8 // 100))
    for k in range(20):
        with open(os.path.join(d, "MALY%02d.DAT" % k), "wb") as f:
            f.write(rnd.randbytes(rnd.randrange(0, 3000)) if k % 3 == 0 else (b"%d;" % k) * rnd.randrange(0, 4000))
PY
}

generate_mixed() {
python3 - "$1" "$MB" <<'PY'
import os, random, struct, sys, zlib
root, total = sys.argv[1], int(sys.argv[2]) * 1000 * 1000
rnd = random.Random(4711)
companies = 20
per_company = total // companies
words = ("sprzedaz zakup towar usluga korekta zaliczka magazyn wydanie przyjecie faktura rachunek paragon "
         "nota odsetki rata leasing paliwo czynsz energia telefon wynagrodzenie skladka podatek zwrot "
         "rozrachunek bank kasa przelew kompensata amortyzacja srodek trwaly remanent").split()
cities = ["Warszawa", "Krakow", "Lodz", "Wroclaw", "Poznan", "Gdansk", "Szczecin", "Lublin", "Bialystok", "Kielce"]
firms = ["%s %s" % (rnd.choice(["PPHU", "FHU", "Sp. z o.o.", "S.A.", "s.c."]), "".join(rnd.choice("ABCDEFGHIJKLMNOPRSTUWZ") for _ in range(rnd.randrange(4, 12)))) for _ in range(300)]
nips = ["%010d" % rnd.randrange(10**9, 10**10) for _ in range(300)]

def table(path, size, layout):
    # dBase-like table with a layout of its own per kind of register
    fields = layout
    reclen = 1 + sum(l for _, _, l in fields)
    count = max(1, (size - 32 - 33) // reclen)
    with open(path, "wb") as f:
        hlen = 32 + 32 * len(fields) + 1
        f.write(struct.pack("<BBBBIHH20x", 3, 124, 11, 30, count, hlen, reclen))
        for n, t, l in fields:
            f.write(n.ljust(11, b"\0") + t + b"\0\0\0\0" + bytes([l, 2 if t == b"N" else 0]) + b"\0" * 14)
        f.write(b"\r")
        out = []
        for i in range(count):
            rec = [b" "]
            k = rnd.randrange(300)
            for n, t, l in fields:
                if t == b"D":
                    v = b"20%02d%02d%02d" % (rnd.randrange(3, 9), rnd.randrange(1, 13), rnd.randrange(1, 29))
                elif t == b"N":
                    v = (b"%.2f" % (rnd.randrange(0, 10**rnd.randrange(3, 9)) / 100)).rjust(l)
                elif n == b"NIP":
                    v = nips[k].encode()
                elif n == b"NAZWA":
                    v = firms[k].encode()
                elif n == b"MIASTO":
                    v = cities[k % len(cities)].encode()
                else:
                    v = " ".join(rnd.choice(words) for _ in range(rnd.randrange(1, 5))).encode()
                rec.append(v[:l].ljust(l))
            out.append(b"".join(rec))
            if len(out) == 2048:
                f.write(b"".join(out)); out = []
        f.write(b"".join(out) + b"\x1a")

layouts = [
    [(b"DATA", b"D", 8), (b"NIP", b"C", 10), (b"NAZWA", b"C", 40), (b"MIASTO", b"C", 20), (b"NETTO", b"N", 12),
     (b"VAT", b"N", 10), (b"BRUTTO", b"N", 12), (b"OPIS", b"C", 30)],
    [(b"INDEKS", b"C", 15), (b"OPIS", b"C", 50), (b"ILOSC", b"N", 10), (b"CENA", b"N", 12), (b"DATA", b"D", 8)],
    [(b"NAZWA", b"C", 40), (b"NIP", b"C", 10), (b"MIASTO", b"C", 20), (b"ULICA", b"C", 35), (b"SALDO", b"N", 14)],
    [(b"DATA", b"D", 8), (b"KWOTA", b"N", 12), (b"TYTUL", b"C", 60)],
]

def report(path, size):
    # printed reports: page headers, column rulers, Polish text, totals
    with open(path, "wb") as f:
        written, page = 0, 1
        while written < size:
            lines = ["\f%-60s Strona %4d" % (rnd.choice(firms), page), "ZESTAWIENIE OBROTOW I SALD za okres 20%02d-%02d" %
                     (rnd.randrange(3, 9), rnd.randrange(1, 13)), "=" * 78]
            for _ in range(rnd.randrange(40, 60)):
                lines.append("%-9s %-34s %12.2f %12.2f %s" % (
                    "%03d-%03d" % (rnd.randrange(1000), rnd.randrange(1000)),
                    " ".join(rnd.choice(words) for _ in range(3))[:34], rnd.randrange(10**8) / 100,
                    rnd.randrange(10**8) / 100, rnd.choice(["Wn", "Ma"])))
            lines += ["-" * 78, "RAZEM: %14.2f" % (rnd.randrange(10**10) / 100), ""]
            chunk = ("\r\n".join(lines)).encode("cp1250")
            f.write(chunk); written += len(chunk); page += 1

def attachment(path, size):
    # scans and archives mailed in: already compressed
    with open(path, "wb") as f:
        f.write(b"\xff\xd8\xff\xe0\x00\x10JFIF\x00")
        left = size - 11
        while left > 0:
            raw = rnd.randbytes(min(left, 1 << 16) * 3 // 2) + b"0123" * 64
            z = zlib.compress(raw, 6)[:left]
            f.write(z); left -= len(z)

def index(path, size):
    # sorted keys with record numbers, as in index files
    with open(path, "wb") as f:
        n = size // 16
        keys = sorted(rnd.choice(nips) + "%02d" % rnd.randrange(100) for _ in range(n))
        f.write(b"".join(k.encode()[:12].ljust(12) + struct.pack("<I", i) for i, k in enumerate(keys)))

for c in range(1, companies + 1):
    d = os.path.join(root, "F%03d" % c)
    os.makedirs(os.path.join(d, "WYDRUKI"), exist_ok=True)
    budget = per_company
    # a few large registers, many small tables
    sizes = [budget * p // 100 for p in (18, 9, 6)] + [rnd.randrange(2000, budget // 60) for _ in range(rnd.randrange(40, 90))]
    used = 0
    for i, s in enumerate(sizes):
        if used + s > budget * 55 // 100:
            break
        table(os.path.join(d, "R%03d.DBF" % i), s, layouts[i % len(layouts)]); used += s
        if i % 3 == 0:
            index(os.path.join(d, "R%03d.CDX" % i), max(64, s // 8)); used += s // 8
    reports = budget * 25 // 100
    k = 0
    while reports > 0:
        s = min(reports, rnd.randrange(5000, max(6000, budget // 12)))
        report(os.path.join(d, "WYDRUKI", "RAP%04d.TXT" % k), s); reports -= s; k += 1
    attach = budget - used - budget * 25 // 100
    k = 0
    while attach > 4096:
        s = min(attach, rnd.randrange(20000, max(30000, budget // 10)))
        attachment(os.path.join(d, "ZAL%03d.JPG" % k), s); attach -= s; k += 1
    for k in range(8):
        with open(os.path.join(d, "CFG%d.INI" % k), "wb") as f:
            f.write(("[ustawienia]\r\nfirma=%s\r\nrok=20%02d\r\n" % (rnd.choice(firms), k)).encode() * rnd.randrange(0, 5))
PY
}

generate_flat() {
python3 - "$1" "$MB" <<'PY'
import os, shutil, sys
root, total = sys.argv[1], int(sys.argv[2]) * 1000 * 1000
os.makedirs(root, exist_ok=True)
# Shares of the total, taken in name order; a file over 8 MB, a link, an empty
# file or a second file of a name already taken is passed over.
sources = [("/usr/bin", 30), ("/usr/lib/x86_64-linux-gnu", 25), ("/usr/share/doc", 15),
           ("/usr/share/locale", 10), ("/usr/include", 20)]
for top, share in sources:
    budget, got = total * share // 100, 0
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames.sort()
        for f in sorted(filenames):
            path = os.path.join(dirpath, f)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            size = os.path.getsize(path)
            if size == 0 or size > 8 * 1000 * 1000 or got + size > budget:
                continue
            name = f if top != "/usr/share/locale" else dirpath.split("/")[4] + "_" + f
            if os.path.exists(os.path.join(root, name)):
                continue
            shutil.copyfile(path, os.path.join(root, name))
            got += size
        if got >= budget * 0.98:
            break
PY
}

# measure KEY NAME INPUT_BYTES OUTPUT_FILE_OR_EMPTY SCRATCH COMMAND...
# SCRATCH is removed before every run; the median run and the largest peak
# memory are reported, and kept in $RES/KEY for the summary.
measure() {
    key=$1; name=$2; in_bytes=$3; out=$4; scratch=$5; shift 5
    : >"$WORK/times.txt"
    i=0
    while [ "$i" -lt "$RUNS" ]; do
        rm -rf "$scratch"
        sync
        if ! /usr/bin/time -v -o "$WORK/time.txt" "$@" >"$WORK/cmd.log" 2>&1; then
            echo "$name failed:"; cat "$WORK/cmd.log"; exit 1
        fi
        cat "$WORK/time.txt" >>"$WORK/times.txt"
        i=$((i + 1))
    done
    python3 - "$name" "$in_bytes" "$out" "$DATA_BYTES" "$WORK/times.txt" "$RES/$key" <<'PY'
import os, re, sys
name, in_bytes, out, data_bytes, tf, res = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), sys.argv[5], sys.argv[6]
t = open(tf).read()
runs = sorted(int(h or 0) * 3600 + int(m) * 60 + float(s) for h, m, s in
              re.findall(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (?:(\d+):)?(\d+):([\d.]+)", t))
secs = runs[len(runs) // 2]
rss = max(int(k) for k in re.findall(r"Maximum resident set size \(kbytes\): (\d+)", t)) / 1024
ratio, size = "", 0
if out:
    size = sum(os.path.getsize(os.path.join(os.path.dirname(out), f)) for f in os.listdir(os.path.dirname(out))
               if f.startswith(os.path.splitext(os.path.basename(out))[0]) and f.endswith(".cab"))
    ratio = "%.2f%%" % (100.0 * size / data_bytes)
mbs = in_bytes / 1e6 / max(secs, 1e-6)
print("%-24s %8.2f s %9.1f MB/s %10s %8.1f MB" % (name, secs, mbs, ratio, rss))
open(res, "w").write("%.3f %.3f %.1f %d" % (secs, mbs, rss, size))
PY
}

check() {
    if ! diff -r "$DATA" "$1" >/dev/null; then
        echo "extracted data differs: $1"; exit 1
    fi
    rm -rf "$1"
}

run_shape() {
    shape=$1
    DATA=$WORK/$shape/data
    OUT=$WORK/$shape
    RES=$WORK/$shape/results
    mkdir -p "$RES"
    echo
    echo "== $shape: generating ${MB} MB of ledger-like data in $DATA ..."
    "generate_$shape" "$DATA"
    DATA_BYTES=$(du -sb "$DATA" | cut -f1)
    echo "data: $DATA_BYTES bytes in $(find "$DATA" -type f | wc -l) files"
    printf "%-24s %10s %14s %10s %11s\n" "step" "time" "throughput" "cab/data" "peak RSS"
    measure create "qvcab create --mszip" "$DATA_BYTES" "$OUT/q/q.cab" "$OUT/q" \
        sh -c "mkdir -p '$OUT/q' && '$QVCAB' create '$OUT/q/q.cab' --mszip '$DATA'/*"
    if [ "$LZX" != 0 ]; then
        measure lzx "qvcab create --lzx" "$DATA_BYTES" "$OUT/l/l.cab" "$OUT/l" \
            sh -c "mkdir -p '$OUT/l' && '$QVCAB' create '$OUT/l/l.cab' --lzx '$DATA'/*"
    fi
    FILES=$(cd "$DATA" && find . -type f | sed 's|^\./||' | sort)
    measure gcab "gcab -c -z" "$DATA_BYTES" "$OUT/g/g.cab" "$OUT/g" \
        sh -c "mkdir -p '$OUT/g' && cd '$DATA' && gcab -c -z '$OUT/g/g.cab' $(echo $FILES)"
    measure extract "qvcab extract" "$DATA_BYTES" "" "$OUT/x-qvcab" "$QVCAB" extract "$OUT/q/q.cab" "$OUT/x-qvcab"
    check "$OUT/x-qvcab"
    measure cabextract "cabextract (our cab)" "$DATA_BYTES" "" "$OUT/x-cabextract" \
        cabextract -q -d "$OUT/x-cabextract" "$OUT/q/q.cab"
    check "$OUT/x-cabextract"
    measure bsdtar "bsdtar -x (our cab)" "$DATA_BYTES" "" "$OUT/x-bsdtar" \
        sh -c "mkdir -p '$OUT/x-bsdtar' && cd '$OUT/x-bsdtar' && bsdtar -xf '$OUT/q/q.cab'"
    check "$OUT/x-bsdtar"
    measure 7zz "7zz x (our cab)" "$DATA_BYTES" "" "$OUT/x-7zz" 7zz x -y -bd -o"$OUT/x-7zz" "$OUT/q/q.cab"
    check "$OUT/x-7zz"
    measure extract-g "qvcab extract (gcab cab)" "$DATA_BYTES" "" "$OUT/x-qvcab-g" \
        "$QVCAB" extract "$OUT/g/g.cab" "$OUT/x-qvcab-g"
    check "$OUT/x-qvcab-g"
    measure cabextract-g "cabextract (gcab cab)" "$DATA_BYTES" "" "$OUT/x-cabextract-g" \
        cabextract -q -d "$OUT/x-cabextract-g" "$OUT/g/g.cab"
    check "$OUT/x-cabextract-g"
    measure test "qvcab test" "$DATA_BYTES" "" "$OUT/none" "$QVCAB" test "$OUT/q/q.cab"
    if [ "$LZX" != 0 ]; then
        measure extract-l "qvcab extract (LZX)" "$DATA_BYTES" "" "$OUT/x-qvcab-l" \
            "$QVCAB" extract "$OUT/l/l.cab" "$OUT/x-qvcab-l"
        check "$OUT/x-qvcab-l"
        measure cabextract-l "cabextract (LZX cab)" "$DATA_BYTES" "" "$OUT/x-cabextract-l" \
            cabextract -q -d "$OUT/x-cabextract-l" "$OUT/l/l.cab"
        check "$OUT/x-cabextract-l"
        measure 7zz-l "7zz x (LZX cab)" "$DATA_BYTES" "" "$OUT/x-7zz-l" 7zz x -y -bd -o"$OUT/x-7zz-l" "$OUT/l/l.cab"
        check "$OUT/x-7zz-l"
    fi
    python3 - "$shape" "$RES" <<'PY'
import os, sys
shape, res = sys.argv[1], sys.argv[2]
r = {k: [float(v) for v in open(os.path.join(res, k)).read().split()] for k in os.listdir(res)}
secs, mbs, rss, size = 0, 1, 2, 3
print("%s, medians of the runs above, same data:" % shape)
print("  create --mszip: %.2f x gcab's MB/s (target >= 1.8), %.3f x its size (target <= 0.97)" %
      (r["create"][mbs] / r["gcab"][mbs], r["create"][size] / r["gcab"][size]))
print("  extract: %.2f x cabextract's MB/s, %.2f x bsdtar's (target >= 1.2), %.2f x 7zz's" %
      (r["extract"][mbs] / r["cabextract"][mbs], r["extract"][mbs] / r["bsdtar"][mbs], r["extract"][mbs] / r["7zz"][mbs]))
print("  read-back check against create: %.2f s / %.2f s = %.1f%% more time" %
      (r["test"][secs], r["create"][secs], 100.0 * r["test"][secs] / max(r["create"][secs], 1e-6)))
print("  peak RSS: create %.1f MB, extract %.1f MB (target < 64 MB)" % (r["create"][rss], r["extract"][rss]))
if "lzx" in r:
    def mark(ok):
        return "met" if ok else "NOT met"
    create, ratio, peak = r["lzx"][mbs], r["lzx"][size] / r["create"][size], r["lzx"][rss]
    print("  LZX create: %.1f MB/s (target >= 15: %s), %.3f x our MSZIP size (target <= 0.87: %s),"
          " peak RSS %.1f MB (target < 64: %s)" %
          (create, mark(create >= 15), ratio, mark(ratio <= 0.87), peak, mark(peak < 64)))
    print("  LZX extract: %.1f MB/s (target >= 150), peak RSS %.1f MB" % (r["extract-l"][mbs], r["extract-l"][rss]))
PY
    rm -rf "$DATA" "$OUT/q" "$OUT/l" "$OUT/g"
}

# Other work on the machine slows every tool; the load it had is said with the figures.
load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "qvcab compresses with ${QV_CAB_THREADS:-all} threads; $(nproc) cores; ${RUNS} runs per step; load $(load)"
for shape in $SHAPES; do
    run_shape "$shape"
    echo "  load average after $shape: $(load)"
done
