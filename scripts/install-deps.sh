#!/usr/bin/env bash
# Installs what building and testing Tandrel needs on Debian: the compiler,
# CMake, Ninja and GoogleTest; with --check-tools also mkvtoolnix and ffmpeg,
# which the end-to-end tests use to read the outputs.
set -euo pipefail

packages=(g++ cmake ninja-build libgtest-dev)
if [[ "${1:-}" == "--check-tools" ]]; then
  packages+=(mkvtoolnix ffmpeg)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
