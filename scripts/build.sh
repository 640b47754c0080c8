#!/bin/bash
# Configures (once) and builds the tree in build/; quick when nothing changed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
if [[ ! -f build/CMakeCache.txt ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build -j"$(nproc)"
