#!/usr/bin/env bash
# Installs what is needed, then configures and builds the project into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/packages.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
if [ -x build/host/sylmark-host ] && [ -f build/plugin/libSylmark.so ] && [ -f build/host/companion/libFenraBase.so ]; then
  bash scripts/main-job.sh
fi
