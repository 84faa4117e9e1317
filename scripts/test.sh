#!/usr/bin/env bash
# Sets up, builds and runs every test (unit tests, corpus replays, end-to-end).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh "${1:-release}"
ctest --preset "${1:-release}"
