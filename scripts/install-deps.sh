#!/usr/bin/env bash
# Installs everything Morvik needs to build, test and run its demo, from Debian's packages only.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config ccache clang-format git
    # the framework and the libraries its Linux build uses
    juce-modules-source
    libasound2-dev libfreetype-dev libfontconfig1-dev
    libx11-dev libxcomposite-dev libxcursor-dev libxext-dev libxinerama-dev libxrandr-dev libxrender-dev
    libflac-dev libvorbis-dev libogg-dev libpng-dev libjpeg-dev zlib1g-dev
    # the editor's typeface, embedded by the build (Manrope, SIL Open Font License 1.1)
    fonts-manrope
    # tests and benchmarks
    libgtest-dev libbenchmark-dev xvfb xauth liblilv-dev
    # the real host the tests and the demo render through, and the demo's plot
    ardour gnuplot-nox
    # the editor in real hosts: jalv against a dummy JACK server, pictures from the X server and
    # pointer input under Xvfb
    jalv jackd2 imagemagick xdotool
)

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
