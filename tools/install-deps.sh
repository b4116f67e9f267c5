#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root or through sudo.
set -eu
packages=(
    cmake g++ clang libclang-rt-14-dev clang-format make pkg-config ccache python3 python3-pil python3-gi fonts-dejavu-core
    # the hold on sleep: GLib's D-Bus client, and a private session bus for its test
    libglib2.0-dev dbus-daemon
    juce-modules-source libgtest-dev libcli11-dev
    xvfb xauth openbox wmctrl xdotool x11-utils imagemagick xclip
    # the Windows build, its tests under Wine and its installer
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 nsis dpkg-dev python3-pefile osslsigncode openssl
    # the Debian package and its checks
    desktop-file-utils file man-db lintian appstream libxml2-utils gdb
    # the USB-MIDI machine the usb tests boot
    qemu-system-x86 busybox-static cpio alsa-utils kmod
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
