#!/usr/bin/env bash
# Installs the Debian packages that building and running Ormbrook need, and
# only those that are missing. Quiet when there is nothing to do; says what
# to install when it cannot do it itself.
#
#   scripts/setup.sh            building and running (qry, qrysw, qryss, the package)
#   scripts/setup.sh test       and the tests' tools (scripts/test.sh, screenshots)
#   scripts/setup.sh demo       and the web server the demo site is served by
#   scripts/setup.sh bench      and the benchmarks' peers and measures (bench/)
#   scripts/setup.sh package    and what makes and checks the Debian package
#   scripts/setup.sh fuzz       and clang's libFuzzer (the fuzz preset)
#   scripts/setup.sh browser    and Chromium (scripts/browser-check.sh)
# Groups may be combined: scripts/setup.sh test bench.
set -euo pipefail

# Building and running, what each package is for:
#   qt6-base-dev         QtCore and QtNetwork (core), QtGui and QtWidgets (windows)
#   qt6-translations-l10n Qt's own dialog texts in Japanese (qtbase_ja)
#   libjpeg62-turbo-dev  JPEG decoding of the pictures
#   libssl-dev           https: TLS through OpenSSL on the engine's own sockets
#   libnghttp2-dev       HTTP/2 streams over the engine's own TLS sockets
#   zlib1g-dev           gzip and deflate bodies, decoded as they arrive
#   libbrotli-dev        br bodies, decoded as they arrive (tests: the encoder makes them)
#   libx11-dev           the viewers: a foreign window's size, the root window
#   fonts-ipafont-*      Japanese faces for the interface (IPA P Gothic) and captions (IPA P Mincho)
#   xdg-utils            xdg-open: the browser, the guide, opened from the program
packages=(
  g++ cmake ninja-build git pkg-config ccache
  qt6-base-dev qt6-translations-l10n libjpeg62-turbo-dev libssl-dev libnghttp2-dev zlib1g-dev libbrotli-dev
  libx11-dev fonts-ipafont-gothic fonts-ipafont-mincho xdg-utils
)
for group in "$@"; do
  case "$group" in
  # The tests (scripts/test.sh, .ci/run) and the pictures of the windows:
  #   libgtest/gmock-dev   unit tests
  #   libxtst-dev          window tests: real key presses (XTEST) that reach the saver's grab
  #   xvfb                 window tests run on a private X server and read its pixels back
  #   x11-xserver-utils    window tests: xsetroot paints a known root window
  #   nginx-light          end-to-end tests serve generated sites with it
  #   openssl              the command that makes the tests' certificate authority
  #   tinyproxy            a forward proxy for the https tunnel (CONNECT)
  #   dbus-daemon          dial-up tests run a fake NetworkManager on a private bus of their own
  test) packages+=(libgtest-dev libgmock-dev libxtst-dev xvfb x11-xserver-utils nginx-light openssl tinyproxy
                   dbus-daemon) ;;
  # The demo site is served on loopback.
  demo) packages+=(nginx-light) ;;
  # The benchmarks:
  #   libbenchmark-dev     micro-benchmarks (bench/*_bench.cpp, built when it is there)
  #   libxml2-dev          the HTML parser the link scanner is compared with
  #   nginx                HTTP/2 (its http_v2 module; on Debian 12 nginx-light is
  #                        only a name for it, elsewhere it may lack the module)
  #   iproute2             ip netns and tc hold a private loopback to a rate
  #   curl                 transfer speed comparison
  #   wget, wget2, httrack the crawlers the crawl is measured against
  #   time, bc             measuring and the ratios
  #   openssl              the https benchmark's certificate authority
  #   xvfb                 the picture and desktop benchmarks draw on a private X server
  bench) packages+=(libbenchmark-dev libxml2-dev nginx-light nginx iproute2 curl wget wget2 httrack time bc openssl
                    xvfb) ;;
  # scripts/package.sh: dpkg-shlibdeps (the dependencies from the binaries)
  # and lintian (Debian's checks of the package).
  package) packages+=(dpkg-dev lintian) ;;
  # libFuzzer harnesses: clang and its runtime.
  fuzz) packages+=(clang libclang-rt-14-dev) ;;
  # Headless renders of a site and of its mirror, compared pixel by pixel.
  browser | --browser-check) packages+=(chromium) ;;
  *) echo "setup: unknown group $group (test, demo, bench, package, fuzz, browser)" >&2; exit 2 ;;
  esac
done

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
