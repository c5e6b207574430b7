#!/usr/bin/env bash
# Installs the Debian packages the browser and its tests need, only when something is missing.
# Optional sets by argument: "fuzz" adds clang and the libFuzzer runtime (scripts/fuzz.sh).
set -euo pipefail

packages=(
    build-essential cmake pkg-config lld
    libgtkmm-4.0-dev libwebkitgtk-6.0-dev libsoup-3.0-dev libarchive-dev nlohmann-json3-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    xvfb xauth imagemagick xdotool libx11-dev libxi-dev strace
    fonts-dejavu-core adwaita-icon-theme
    dbus dbus-x11 at-spi2-core python3-gi gir1.2-atspi-2.0 desktop-file-utils appstream wget
)
for extra in "$@"; do
    case "$extra" in
        fuzz) packages+=(clang libclang-rt-14-dev) ;;
        *) echo "setup.sh: unknown package set \"$extra\"" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
