#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev fonts-liberation2 libgpiod-dev libftdi1-dev libedit-dev libtirpc-dev libavahi-client-dev
  sigrok-cli xvfb xauth xdotool python3-pyatspi at-spi2-core dbus
  clang libclang-rt-14-dev
  qemu-system-x86 linux-image-amd64 busybox-static cpio i2c-tools udev
  man-db groff-base jq dpkg-dev lintian systemd iproute2 rpcbind lxi-tools avahi-daemon dbus-bin
  g++-mingw-w64-x86-64-posix wine wine64 googletest nsis zip unzip
  python3-dev pybind11-dev python3-pybind11 python3-pytest python3-jsonschema
  python3-pyvisa python3-pyvisa-py python3-mypy python3-venv python3-setuptools python3-wheel
)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
