#!/bin/bash
# Builds and plays the show from its folder (build/show: binary, data/, music).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build/show
exec ./kaldra
