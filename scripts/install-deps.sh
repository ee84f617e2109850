#!/usr/bin/env bash
# Installs the Debian packages of the given sets; installs nothing when every package is already
# there; uses sudo only when not root. Usage: scripts/install-deps.sh [SET...]   (default: build)
#
#   build    building the utility and the stand-in tool, its manual page (scdoc), and `make demo`'s
#            pictures (a font)
#   test     what `make test` and `make asan-test` add: the X11 tray (Xvfb, trayer, xdotool,
#            ImageMagick, tesseract), the StatusNotifierItem hosts (xfce4-panel, sway, waybar,
#            GNOME Shell with its AppIndicator extension), a
#            private session bus, the desktop-entry validator, Qt's translations
#   bench    `make bench`: Google Benchmark, hyperfine, time, the X11 tray of the start-up figures
#   fuzz     `make fuzz`: clang with its sanitizer and libFuzzer runtimes
#   package  `make package`: debhelper and dpkg-buildpackage, the icon renderer, the private session
#            bus of the tests run during the package build, and the checkers of the package
#            (lintian, appstreamcli, the desktop-entry validator)
#   format   `make format` and `make format-check`: clang-format
#   all      every set
set -euo pipefail

declare -A sets=(
    [build]="build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
             libicu-dev libxcb1-dev fonts-dejavu-core scdoc"
    [test]="xvfb xauth trayer xdotool imagemagick x11-utils tesseract-ocr tesseract-ocr-eng python3
            dbus-daemon python3-dbus python3-gi xfce4-panel xfconf sway waybar grim qt6-wayland
            desktop-file-utils qt6-translations-l10n
            gnome-shell gnome-shell-extension-appindicator dconf-gsettings-backend"
    [bench]="libbenchmark-dev hyperfine time libxcb1-dev xvfb xauth trayer"
    [fuzz]="clang libclang-rt-14-dev"
    [package]="debhelper dpkg-dev librsvg2-bin dbus-daemon lintian appstream desktop-file-utils"
    [format]="clang-format"
)

[ $# -gt 0 ] || set -- build
[ "$1" != all ] || set -- build test bench fuzz package format
packages=()
for set in "$@"; do
    [ -n "${sets[$set]+x}" ] || { echo "unknown set: $set (build test bench fuzz package format all)" >&2; exit 2; }
    # shellcheck disable=SC2206 # package names: split on white space, nothing to glob
    packages+=(${sets[$set]})
done

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
readarray -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)

echo "installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
