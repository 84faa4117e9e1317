#!/usr/bin/env bash
# Sets up, builds and runs every test (unit tests, corpus replays, end-to-end).
set -euo pipefail
cd "$(dirname "$0")/.."
# The tests' own tools (GoogleTest, Xvfb, nginx, a proxy, a private bus)
# come with the "test" group: scripts/setup.sh alone installs what
# building and running need.
scripts/setup.sh test
scripts/build.sh "${1:-release}"
ctest --preset "${1:-release}"
