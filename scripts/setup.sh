#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Idempotent and quiet when everything is already present.
set -euo pipefail

packages=(
  g++ cmake make pkg-config clang-format
  libwxgtk3.2-dev libcurl4-openssl-dev libssl-dev libgumbo-dev zlib1g-dev libsqlite3-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev
  xvfb xauth xdotool x11-apps x11-utils imagemagick bc curl wget time
  libgtk-3-dev at-spi2-core dbus python3-pyatspi
  librsvg2-bin dpkg-dev file lintian appstream
  exfatprogs exfat-fuse
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
