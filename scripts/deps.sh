#!/usr/bin/env bash
# Installs the Debian 12 packages the engine, its tests and its tools need.
# Idempotent: packages already present are left alone. Runs as root, or
# through sudo otherwise.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config git
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # media: decoding, encoding, mixing, the final mux
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev libavfilter-dev
  libswscale-dev libswresample-dev libx264-dev
  # template scripts, JSON, images, polygon clipping, pack encryption
  liblua5.3-dev rapidjson-dev libstb-dev libpng-dev libpolyclipping-dev libssl-dev openssl
  # headless GL: EGL device platform on Mesa's software rasteriser
  libegl-dev libgl-dev libopengl-dev libegl-mesa0 libgl1-mesa-dri
  # the Go host test
  golang-go
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "deps.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
