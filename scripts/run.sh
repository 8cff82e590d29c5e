#!/usr/bin/env bash
# Installs what the build needs, builds the application and starts it.
# On a machine without a display it runs inside a virtual X server.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build_dir=build
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" --parallel "$(nproc)" --target corvane-media-organiser

app="$build_dir/bin/corvane-media-organiser"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
run: no display was found (neither DISPLAY nor WAYLAND_DISPLAY is set).
run: the window will run inside a virtual X server (Xvfb), where nobody can see it.
run: to see the window, start this script from a desktop session or over "ssh -X";
run: scripts/screenshots.sh takes pictures of the window without a display.
run: press Ctrl+C to stop the program.
MSG
  exec xvfb-run -a "$app" "$@"
fi
exec "$app" "$@"
