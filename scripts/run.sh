#!/usr/bin/env bash
# Installs what is missing, builds the program (Release), writes the demo
# ledger data folder into the build tree and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF
cmake --build build/release --target qvarchiwizator qvdemo
demo="$PWD/build/release/demo/LDG_2005"
if [[ ! -f "$demo/SPISFIRM.DAT" ]]; then
  build/release/tools/demodata/qvdemo "$demo"
  build/release/tools/demodata/qvdemo "$PWD/build/release/demo/LDG_852" --cp852
fi
# A first run opens on the demo companies.
ini="build/release/src/app/qvarchiwizator.INI"
if [[ ! -f "$ini" ]]; then
  printf '[Main]\r\nDirectoryEdit_LDG_Text=%s\r\n' "$demo" > "$ini"
fi
echo "Demo data: $demo (and $PWD/build/release/demo/LDG_852 with a CP852 register)"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display: starting on a virtual X server (xvfb-run)."
  exec xvfb-run -a -s "-screen 0 1280x1024x24" build/release/src/app/qvarchiwizator
fi
exec build/release/src/app/qvarchiwizator
