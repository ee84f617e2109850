#!/usr/bin/env bash
# Installs the Debian packages that building, testing, the demo and the benchmarks need.
# Installs nothing when every package is already there; uses sudo only when not root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libicu-dev libbenchmark-dev
    clang libclang-rt-14-dev
    fonts-dejavu-core
    xvfb xauth trayer xdotool imagemagick x11-utils tesseract-ocr tesseract-ocr-eng python3
    dbus-daemon python3-dbus xfce4-panel xfconf sway waybar grim qt6-wayland
    gnome-shell gnome-shell-extension-appindicator dconf-gsettings-backend
    hyperfine time libxcb1-dev
    dpkg-dev desktop-file-utils librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
