#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the programs need,
# only those that are missing, so a second run costs nothing. Packages named
# as arguments are installed along with them (scripts/bench.sh adds the
# benchmarks' own).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libssl-dev libcurl4-openssl-dev libtbb-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
  libgtk-4-dev xvfb xauth libxtst-dev
  python3 openssl
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
