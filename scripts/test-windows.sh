#!/usr/bin/env bash
# Cross-builds the program for 64-bit Windows (MinGW-w64): qvarchiwizator.exe
# (the window and the command line), qvcab.exe, the tools and the GoogleTest
# programs; checks qvcab.exe's cabinets with cabextract (byte for byte) and
# reads gcab's and the Linux qvcab's cabinets with qvcab.exe; runs the program
# end to end under Wine (scripts/windows-e2e.sh) and drives its window on a
# virtual display (scripts/windows-window.sh); then starts
# local FTP servers (plain and TLS) and runs the test programs under Wine
# through CTest. Leaves the statically linked, stripped
# build/windows/qvarchiwizator.exe and build/windows/qvcab.exe, and the
# installer and the zip beside them, which it installs and uninstalls under
# Wine (scripts/windows-install.sh). Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
bash scripts/deps.sh windows

out="$root/build/windows"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
jobs="$(nproc)"
((jobs > 2)) && jobs=2

# A Wine of our own for this run: a fresh prefix, no display, no debug
# chatter, no offer to install Mono or Gecko; works as root too.
export WINEPREFIX
WINEPREFIX="$(mktemp -d /tmp/qvwine.XXXXXX)"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=""
scratch="$(mktemp -d /tmp/qvwincheck.XXXXXX)"
peers="$scratch/ftps"
cleanup() {
  /usr/bin/python3 tests/support/ftps_peers.py stop "$peers" >/dev/null 2>&1 || true
  [[ -s "$scratch/launcher.pid" ]] && kill "$(cat "$scratch/launcher.pid")" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$scratch"
}
trap cleanup EXIT
echo "== Wine: preparing a fresh prefix"
# One server for all the test programs, started before anything else runs in
# the prefix (it refuses to start beside one) and ended by cleanup. Debian's
# wineserver wrapper passes -p0 itself and then refuses another -p: ask the
# server binary.
server=wineserver
[[ -x /usr/lib/wine/wineserver64 ]] && server=/usr/lib/wine/wineserver64
"$server" -p || { echo "wineserver would not start for $WINEPREFIX" >&2; exit 1; }
wine wineboot --init >/dev/null 2>&1 || true

echo "== Cross-building qvarchiwizator.exe, qvcab.exe, the tools and the tests"
cmake -S . -B "$out/tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DQV_GTEST_SOURCE=/usr/src/googletest -DCMAKE_CROSSCOMPILING_EMULATOR=wine -DQV_PACKAGE_DIR="$out" \
      "${launcher[@]}" >/dev/null
cmake --build "$out/tree" -j "$jobs"
bin="$out/tree/bin"
mkdir -p "$bin"
for program in src/app/qvarchiwizator tools/qvcab/qvcab tools/demodata/qvdemo tools/wintest/qvnoconsole \
               tools/wintest/qvtrustroot tools/wintest/qvwintext tests/app/win32/test_win32window; do
  cp "$out/tree/$program.exe" "$bin/"
done
echo "== The installer and the zip (makensis), with the stripped programs"
cmake --build "$out/tree" --target windows_packages

echo "== Linux qvcab (no window), for the cabinets read back on Windows"
cmake -S . -B "$out/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_QT_WINDOW=OFF -DQV_BUILD_TESTS=OFF \
      "${launcher[@]}" >/dev/null
cmake --build "$out/linux" -j "$jobs" --target qvcab

echo "== Cabinets across the systems"
interop=0
bash scripts/windows-interop.sh "$out/qvcab.exe" "$out/linux/tools/qvcab/qvcab" "$scratch" || interop=$?

echo "== The program end to end under Wine"
e2e=0
bash scripts/windows-e2e.sh "$bin" "$scratch/e2e" || e2e=$?
echo "== The window driven under Wine"
window=0
bash scripts/windows-window.sh "$bin" "$out/window" || window=$?

echo "== The installer and the zip under Wine"
install=0
bash scripts/windows-install.sh "$out" "$(sed -n 's/^project(qvArchiwizator VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" \
  "$bin" "$scratch/install" || install=$?

# The session's TLS tests (tests/upload/ftps_test.cpp) talk to these, on
# 127.0.0.1 only; the tests find them through QV_FTPS_PEERS, as Wine names
# the folder. The servers' test authorities are not in Wine's store of
# trusted roots: a test that trusts one names its file.
echo "== FTP servers with TLS for the session's tests"
mkdir -p "$peers"
/usr/bin/python3 tests/support/ftps_peers.py start "$peers"
export QV_FTPS_PEERS
QV_FTPS_PEERS="$(winepath -w "$peers")"

# The other FTP tests ask this launcher, on Linux beside Wine, for servers of
# their own (tests/support/core/FtpServer.h).
/usr/bin/python3 tests/support/ftplauncher.py >"$scratch/launcher" &
echo $! >"$scratch/launcher.pid"
for _ in $(seq 100); do
  [[ -s "$scratch/launcher" ]] && break
  sleep 0.1
done
export QV_TEST_FTP_LAUNCHER
QV_TEST_FTP_LAUNCHER="$(head -n 1 "$scratch/launcher")"

# The tests run whatever the checks above found, so one run tells all.
echo "== The core's tests under Wine"
ctest --test-dir "$out/tree" --output-on-failure -j "$jobs"
if ((interop != 0)); then
  echo "The cabinet checks across the systems failed (above)." >&2
  exit "$interop"
fi
if ((install != 0)); then
  echo "The installer's and the zip's checks under Wine failed (above)." >&2
  exit "$install"
fi
if ((e2e != 0)); then
  echo "The program's end-to-end checks under Wine failed (above)." >&2
  exit "$e2e"
fi
if ((window != 0)); then
  echo "The drive of the window under Wine failed (above)." >&2
  exit "$window"
fi
