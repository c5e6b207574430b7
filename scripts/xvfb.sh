#!/usr/bin/env bash
# Runs a command under a private Xvfb: bash scripts/xvfb.sh [-s "server args"] command...
#
# The server picks a free display number itself (-displayfd), so runs on a shared machine never
# race for one, and it never resets between clients (-noreset): the tests connect and disconnect
# all the time, and a client that connects during a reset can be refused. Only holders of this
# run's cookie can connect.
set -euo pipefail
server_args=(-screen 0 1280x1024x24)
if [ "${1:-}" = "-s" ]; then
    read -r -a server_args <<<"$2"
    shift 2
fi
[ $# -gt 0 ] || { echo "usage: xvfb.sh [-s \"server args\"] command..." >&2; exit 2; }

dir="$(mktemp -d "${TMPDIR:-/tmp}/qv-xvfb.XXXXXX")"
server=""
cleanup() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

touch "$dir/server" "$dir/client"
cookie="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
# The server takes every cookie in its file, whatever display number the entry names.
xauth -q -f "$dir/server" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
mkfifo "$dir/display"
Xvfb -displayfd 3 -noreset -nolisten tcp -auth "$dir/server" "${server_args[@]}" \
    3>"$dir/display" >"$dir/log" 2>&1 &
server=$!
number=""
read -r number <"$dir/display" || true
if [ -z "$number" ]; then
    echo "xvfb.sh: Xvfb did not start:" >&2
    cat "$dir/log" >&2
    exit 1
fi
xauth -q -f "$dir/client" add ":$number" MIT-MAGIC-COOKIE-1 "$cookie"
export DISPLAY=":$number" XAUTHORITY="$dir/client"
unset WAYLAND_DISPLAY
if [ -n "${QV_XVFB_ANNOUNCE:-}" ]; then
    echo "Xvfb on $DISPLAY; a screenshot: DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY import -window root shot.png" >&2
fi
"$@"
