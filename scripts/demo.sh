#!/usr/bin/env bash
# Builds a demo home from examples/ with the stand-in tool and draws the menu into PNG pictures,
# headless. Usage: scripts/demo.sh BUILD_DIR OUT_DIR
set -euo pipefail

build=$(realpath "$1")
out=$(realpath -m "$2")
src=$(cd "$(dirname "$0")/.." && pwd)
bar="$build/bin/quillnest-bar"
tool="$build/share/quillnest-bar/tool/bin/quillnest"

case "$out" in /|"$HOME") echo "refusing to use $out" >&2; exit 1 ;; esac
rm -rf "$out"
mkdir -p "$out/home" "$out/projects"
cp -R "$src/examples/projects/." "$out/projects/"

export HOME="$out/home"
export QUILLNEST_HOME="$out/home/.quillnest"
export QUILLNEST_LANG=en
for project in "$out"/projects/*/; do
    "$tool" init "${project%/}" --sync >/dev/null
done
# A master file edited by hand is kept aside as a conflict by the next sync.
printf '\nA note added by hand.\n' >> "$out/projects/mobile-app/QUILLNEST.md"
"$tool" sync --all -q
"$tool" check --all -q
sleep 1  # so that the dates read as past times

# No display is needed: without one the utility draws offscreen.
shoot() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" "$bar"
}
LANGUAGE=en QUILLNEST_SNAPSHOT="$out/menu.png" shoot
LANGUAGE=ru QUILLNEST_SNAPSHOT="$out/menu-ru.png" shoot
LANGUAGE=en QUILLNEST_SNAPSHOT="$out/menu-dark.png" QUILLNEST_SNAPSHOT_DARK=1 shoot

echo "Pictures of the menu are in $out:"
ls -1 "$out"/*.png | sed 's/^/  /'
