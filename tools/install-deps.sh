#!/usr/bin/env bash
# Installs the Debian packages zv needs to build, test and run, skipping those already present.
# Usage: tools/install-deps.sh [group...]   groups: build (default), live, e2e, fuzz
set -euo pipefail

build_packages=(
    gcc g++ meson ninja-build pkg-config cython3 python3-dev python3-numpy python3-mesonpy python3-pip
    python3-venv libusb-1.0-0-dev libgtest-dev libbenchmark-dev python3-pytest python3-scipy
    python3-matplotlib python3-mypy libhdf5-dev python3-h5py hdf5-tools python3-aiohttp
)
# What the tests of the live views drive: a terminal (zv monitor) and a headless browser (zv scope).
live_packages=(tmux chromium chromium-driver python3-selenium)
e2e_packages=(qemu-system-x86 busybox-static libusbredirparser-dev cpio xz-utils)
fuzz_packages=(clang libclang-rt-14-dev)

groups=("${@:-build}")
wanted=()
for group in "${groups[@]}"; do
    case "$group" in
        build) wanted+=("${build_packages[@]}") ;;
        live) wanted+=("${live_packages[@]}") ;;
        e2e) wanted+=("${e2e_packages[@]}") ;;
        fuzz) wanted+=("${fuzz_packages[@]}") ;;
        *) echo "install-deps: unknown group '$group' (build, live, e2e, fuzz)" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: these Debian packages are missing; run as root or install them:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
