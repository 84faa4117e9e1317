#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking
# Ormbrook need, and only those that are missing. Quiet when there is
# nothing to do; says what to install when it cannot do it itself.
set -euo pipefail

# What each package is for:
#   qt6-base-dev         QtCore and QtNetwork (core), QtGui and QtWidgets (windows)
#   qt6-translations-l10n Qt's own dialog texts in Japanese (qtbase_ja)
#   libjpeg62-turbo-dev  JPEG decoding of the pictures
#   libssl-dev           https: TLS through OpenSSL on the engine's own sockets
#   libnghttp2-dev       HTTP/2 streams over the engine's own TLS sockets
#   zlib1g-dev           gzip and deflate bodies, decoded as they arrive
#   libbrotli-dev        br bodies, decoded as they arrive (tests: the encoder makes them)
#   openssl              tests and benchmark: the command that makes their certificate authority
#   tinyproxy            tests: a forward proxy for the https tunnel (CONNECT)
#   libgtest/gmock-dev   unit tests; libbenchmark-dev micro-benchmarks
#   libxml2-dev          benchmark only: the HTML parser the link scanner is compared with
#   nginx-light          end-to-end tests serve generated sites with it
#   nginx                benchmark: HTTP/2 (its http_v2 module; on Debian 12 nginx-light is
#                        only a name for it, elsewhere it may lack the module)
#   iproute2             benchmark only: ip netns and tc hold a private loopback to a rate
#   curl                 benchmark only: transfer speed comparison
#   wget, wget2, httrack benchmark only: the crawlers the crawl is measured against
#   time, bc             benchmark only: measuring and the ratios
#   clang, libclang-rt   libFuzzer harnesses (fuzz preset)
#   libx11-dev           the viewers: a foreign window's size, the root window
#   libxtst-dev          window tests: real key presses (XTEST) that reach the saver's grab
#   xvfb                 window tests run on a private X server and read its pixels back
#   x11-xserver-utils    window tests: xsetroot paints a known root window
#   fonts-ipafont-*      Japanese faces for the interface (IPA P Gothic) and captions (IPA P Mincho)
#   dbus-daemon          dial-up tests run a fake NetworkManager on a private bus of their own
packages=(
  g++ cmake ninja-build git pkg-config ccache
  qt6-base-dev qt6-translations-l10n libjpeg62-turbo-dev libssl-dev libnghttp2-dev zlib1g-dev libbrotli-dev
  openssl tinyproxy
  libgtest-dev libgmock-dev libbenchmark-dev libxml2-dev
  nginx-light nginx iproute2 curl
  wget wget2 httrack time bc
  clang libclang-rt-14-dev
  xvfb libx11-dev libxtst-dev x11-xserver-utils fonts-ipafont-gothic fonts-ipafont-mincho
  dbus-daemon
)

# Not part of the set-up: with --browser-check (scripts/browser-check.sh asks
# for it) also
#   chromium             headless renders of a site and of its mirror, compared pixel by pixel
if [ "${1:-}" = "--browser-check" ]; then
  packages+=(chromium)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if ! command -v apt-get >/dev/null 2>&1 || [ ! -r /etc/debian_version ]; then
  echo "setup: this is not a Debian system. Please install the equivalents of:" >&2
  echo "  ${missing[*]}" >&2
  exit 1
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    sudo="sudo"
  else
    echo "setup: these packages are missing and installing them needs root:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
if ! { $sudo apt-get update -qq && $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "setup: apt-get failed; please install: ${missing[*]}" >&2
  exit 1
fi
rm -f "$log"
