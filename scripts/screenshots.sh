#!/usr/bin/env bash
# Takes pictures of the desktop program on a private X server (Xvfb): the
# demo site crawled in a project window, the main window and the dialogs, the
# slide window, the picture panel and a frame of the screen saver.
# They land in build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
# The pictures are taken by a test program on Xvfb.
scripts/setup.sh test
scripts/build.sh release >/dev/null
mkdir -p build/screenshots
build/release/tests/desktop_screenshots build/screenshots
