#!/usr/bin/env bash
# Installs what building and testing Tandrel needs on Debian: the compiler,
# CMake, Ninja and GoogleTest; with --check-tools also mkvtoolnix and ffmpeg,
# which the end-to-end tests use to read the outputs; with --fuzz also clang
# and its runtime libraries (libFuzzer and the sanitizers), which the fuzz
# targets are built with.
set -euo pipefail

packages=(g++ cmake ninja-build libgtest-dev)
case "${1:-}" in
  --check-tools) packages+=(mkvtoolnix ffmpeg) ;;
  --fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
esac

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
