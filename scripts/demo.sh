#!/usr/bin/env bash
# Builds Tandrel and muxes the bundled x264 stereo pair into x264_360p.mkv.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target tandrel
build/release/tandrel tests/data/x264_360p.264 tests/data/x264_360p.mvc x264_360p.mkv -y
echo "wrote $(pwd)/x264_360p.mkv"
