#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libasio-dev libexpat1-dev zlib1g-dev libicu-dev libcli11-dev nlohmann-json3-dev
  liblo-dev liblo-tools liboscpack-dev libxxhash-dev
  iproute2 util-linux
  # The desktop application (Qt 6 Widgets, its SVG icons, its translations and
  # the tools that make them, Qt's own German texts), the tests that run it
  # offscreen or under a virtual X server, the checks of its desktop entry and
  # metadata, and the Debian package (cpack reads the programs' library needs).
  qt6-base-dev qt6-svg-dev qt6-l10n-tools qt6-tools-dev qt6-translations-l10n fonts-dejavu-core xvfb xauth desktop-file-utils appstream file dpkg-dev
  # Manual pages made from the programs' --help, their rendering, and the check of the package.
  help2man man-db lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
