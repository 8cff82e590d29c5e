#!/usr/bin/env bash
# Takes the README's pictures of the window: docs/screenshots/library.png (a
# library of a few albums), docs/screenshots/transfer.png (the "Transfer
# and Sync" dialog), docs/screenshots/review-lists.png (the advanced
# settings' review lists) and docs/screenshots/background.png (a video
# optimisation put aside, its status box in the window's corner).  The media is made at run time with ffmpeg in a temporary
# home, so no file of the user is read or written, and the window is drawn
# offscreen, so no display is needed.
#
#   ./scripts/screenshots.sh [folder] [--check]
#
# folder: where the pictures go (docs/screenshots by default); --check also
# pictures the vehicle lists open, the Tracks, Playlists and Podcasts views,
# the library, the transfer and advanced settings dialogs and the media
# browser at the window's minimum size (1024x650), the video optimisation
# dialog (video.png) and an add under way (add.png: its one dialog with the
# count), the vehicle choice with its way back (start-back.png), the
# browser's word on a missing iTunes library (browser-no-itunes.png), the
# scan's list of what it could not take (scan-report.png), an add of what the
# library has already (add-already-there.png), a cancelled lookup
# (lookup-cancelled.png) and, run as root, a stick's sizes in the transfer
# dialog (transfer-drive.png) and a transfer that fills it
# (transfer-full.png).  JOBS sets the build's
# parallel jobs (all processors by default).
set -euo pipefail
cd "$(dirname "$0")/.."

out=docs/screenshots
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  out=$1
  shift
fi

./scripts/install-deps.sh

build_dir=build
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_BUILD_TESTS=ON
cmake --build "$build_dir" --parallel "${JOBS:-$(nproc)}" --target corvane-screenshots

QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software "$build_dir/bin/corvane-screenshots" "$out" "$@"
