#!/usr/bin/env bash
# Installs every Debian package the project needs to build and test. The one list of packages:
# add a package here and both README commands pick it up.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config git python3
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # fuzz harnesses (libFuzzer comes with clang's runtime)
  clang libclang-rt-14-dev
  # codec libraries behind the imaging layer's codec registry
  libjpeg62-turbo-dev libopenjp2-7-dev libpng-dev libgif-dev
  # test-time peers and fixtures
  dcmtk python3-pydicom python3-numpy python3-pil dicom3tools libxml2-utils
  libjpeg-turbo-progs libopenjp2-tools ffmpeg
  # the codec benchmark decodes the same frames in-process through DCMTK's libraries
  libdcmtk-dev
  # the stand-in host calls plug-in functions through libffi
  libffi-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
