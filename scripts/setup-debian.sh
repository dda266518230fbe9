#!/usr/bin/env bash
# Installs what building, testing and running the program need on Debian 12 (run as root).
# Skips apt entirely when everything is already present, so repeated runs are quick.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev libgl-dev
  nginx curl python3 xvfb xdg-utils xauth
  clang libclang-rt-14-dev
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The date-format tests read real locales; generate the few they use when they are missing.
if command -v locale-gen >/dev/null && ! locale -a 2>/dev/null | grep -qi '^da_DK.utf8$'; then
  for l in da_DK.UTF-8 en_US.UTF-8 de_DE.UTF-8 en_GB.UTF-8 ja_JP.UTF-8; do
    sed -i "s/^# *\(${l} UTF-8\)/\1/" /etc/locale.gen
  done
  locale-gen >/dev/null
fi
