#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that the installed browser runs and
# takes its resources from the installed place. Arguments: cmake, build folder, version.
set -euo pipefail
cmake_command=$1
build=$2
version=$3

root=$(mktemp -d /tmp/quivel-install-XXXXXX)
browser_pid=
cleanup() {
    if [ -n "$browser_pid" ]; then
        kill "$browser_pid" 2>/dev/null || true
        wait "$browser_pid" 2>/dev/null || true
    fi
    rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$root/prefix
"$cmake_command" --install "$build" --prefix "$prefix" >/dev/null

for file in bin/quivel-browser share/quivel-browser/resources/qv.js \
    share/applications/org.quivel.Browser.desktop share/metainfo/org.quivel.Browser.metainfo.xml \
    share/icons/hicolor/scalable/apps/org.quivel.Browser.svg; do
    [ -e "$prefix/$file" ] || fail "not installed: $file"
done

out=$("$prefix/bin/quivel-browser" --version)
[ "$out" = "Quivel Browser $version" ] || fail "--version printed '$out'"

[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || { echo "no display: installed files and --version checked"; exit 0; }

# A bundled extension that only the installed resources hold: seeing it copied into the
# extension store shows the installed browser read its resources from the prefix.
cp -r "$prefix/share/quivel-browser/resources/Extensions/tab-list" \
    "$prefix/share/quivel-browser/resources/Extensions/installed-marker"
sed -i 's/"id": "tab-list"/"id": "installed-marker"/' \
    "$prefix/share/quivel-browser/resources/Extensions/installed-marker/manifest.json"

mkdir -p "$root/home" "$root/work"
echo '<!doctype html><title>Installed</title><p>installed' > "$root/work/page.html"
cd "$root/work"
env HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" XDG_DATA_HOME="$root/home/.local/share" \
    XDG_CACHE_HOME="$root/home/.cache" GTK_A11Y=none NO_AT_BRIDGE=1 \
    QV_NETWORK_PROXY=http://127.0.0.1:9 \
    "$prefix/bin/quivel-browser" --new-instance page.html >"$root/browser.log" 2>&1 &
browser_pid=$!

data=$root/home/.local/share/QuivelBrowser
for _ in $(seq 1 300); do
    if [ -f "$data/Extensions/installed-marker/manifest.json" ] && [ -f "$data/tab.json" ] \
        && grep -q "file://$root/work/page.html" "$data/tab.json"; then
        echo "installed browser runs, opens its argument and finds its resources"
        exit 0
    fi
    kill -0 "$browser_pid" 2>/dev/null || { cat "$root/browser.log" >&2; fail "browser ended early"; }
    sleep 0.1
done
cat "$root/browser.log" >&2
fail "installed browser did not take its resources from $prefix within 30 s"
