#!/bin/bash
# Installs what building, testing and benchmarking need on Debian 12 (as root,
# or through sudo). Does nothing when everything is already there.
set -euo pipefail
packages=(
  cmake ninja-build g++ g++-multilib clang libclang-rt-14-dev libfuzzer-14-dev
  googletest pkg-config python3 binutils
  zlib1g-dev libdeflate-dev libisal-dev liblz4-dev lz4 libxxhash-dev gzip pigz
  liblzo2-dev lzop libbz2-dev bzip2 libzfp-dev zfp
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
