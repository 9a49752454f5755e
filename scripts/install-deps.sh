#!/usr/bin/env bash
# Installs the Debian packages nimbo needs to build and test. Idempotent; silent when nothing is missing.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config
  libocct-foundation-dev libocct-modeling-data-dev libocct-modeling-algorithms-dev
  libocct-data-exchange-dev libocct-ocaf-dev libtbb-dev
  libeasyloggingpp-dev libyaml-cpp-dev libboost-stacktrace-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3
  libcli11-dev nlohmann-json3-dev
  libgmsh-dev librsvg2-bin getdp calculix-ccx openmpi-bin
  pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-meshio
  libjs-three chromium
  parallel
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
if ((EUID != 0)); then
  command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
