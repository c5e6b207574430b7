#!/usr/bin/env bash
# Runs a command with a session bus and a runtime folder of its own: bash scripts/private_session.sh command...
#
# The bus is dbus-run-session's, ended with the command; the accessibility bus is started on it
# when something asks, and ends with it. Nothing of the caller's desktop session is reachable.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: private_session.sh command..." >&2; exit 2; }

runtime="$(mktemp -d "${TMPDIR:-/tmp}/qv-runtime.XXXXXX")"
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
trap 'exit 130' INT TERM
export XDG_RUNTIME_DIR="$runtime"
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
dbus-run-session -- "$@"
