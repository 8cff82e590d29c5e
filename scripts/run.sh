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
  echo "run: no display found, starting in a virtual X server (xvfb-run)"
  exec xvfb-run -a "$app" "$@"
fi
exec "$app" "$@"
