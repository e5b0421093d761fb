#!/usr/bin/env bash
# Builds Tandrel and runs every test. With --sanitize, builds and runs them
# under AddressSanitizer and UndefinedBehaviorSanitizer instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --check-tools
preset=release
[[ "${1:-}" == "--sanitize" ]] && preset=sanitize
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
