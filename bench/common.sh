# shellcheck shell=bash
# Helpers shared by make_corpus.sh and run.sh (sourced, not run).

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tandrel=$repo/build/release/tandrel

# Installs the Debian packages given that are not installed yet.
need_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  local sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  echo "installing ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# Builds the release binary when it is not there yet. Another build in the
# same tree may be under way, so a failed build is retried a few times.
build_tandrel() {
  [[ -x $tandrel ]] && return 0
  "$repo/scripts/install-deps.sh"
  local try
  for try in 1 2 3; do
    if (cd "$repo" && cmake --preset release >/dev/null &&
      cmake --build --preset release --target tandrel); then
      return 0
    fi
    echo "build failed (try $try of 3); retrying in 30 s" >&2
    sleep 30
  done
  return 1
}

# Fails unless the file system holding $1 has $2 bytes free.
need_space() {
  local dir=$1 need=$2 avail
  avail=$(df --output=avail -B1 "$dir" | tail -1)
  if ((avail < need)); then
    echo "Not enough disk space in $dir: $((need >> 20)) MiB needed, $((avail >> 20)) MiB free." >&2
    exit 1
  fi
}
