#!/bin/bash
# Runs the UI stall benchmark twice: once for its timings, then under strace to count what the
# UI thread writes to files, fsyncs and renames inside each measured stretch. Run under a
# display (scripts/xvfb.sh). Usage: bench/ui_stall.sh [build/bench/ui_stall_bench]
set -euo pipefail
bench="${1:-build/bench/ui_stall_bench}"
trace="$(mktemp /tmp/quivel-ui-stall-XXXXXX.trace)"
trap 'rm -f "$trace"' EXIT

"$bench"
strace -f -y -qq -o "$trace" \
    -e trace=access,openat,write,pwrite64,writev,fsync,fdatasync,sync_file_range,rename,renameat,renameat2 \
    "$bench" >/dev/null

# The first line is the bench's own thread, whose id is its process id. Inside each stretch, a
# write counts only when it goes to a file (strace -y shows the path), not to a pipe, socket,
# eventfd or device. What the other threads (the file writer's among them) did is counted too,
# which shows the trace does see the files being written.
awk '
NR == 1 { ui = $1 }
$1 == ui && /access\("\/quivel-bench-mark\/[a-z]+-start"/ {
    match($0, /mark\/[a-z]+/); name = substr($0, RSTART + 5, RLENGTH - 5); inside = 1; order[++n] = name; next
}
$1 == ui && /access\("\/quivel-bench-mark\/[a-z]+-end"/ { inside = 0; next }
!inside { next }
{ who = ($1 == ui ? "ui" : "other") SUBSEP name }
/^[0-9]+ +(write|pwrite64|writev)\([0-9]+<\// && !/\([0-9]+<\/(dev|proc|sys)\// { writes[who]++ }
/^[0-9]+ +(fsync|fdatasync|sync_file_range)\(/ { syncs[who]++ }
/^[0-9]+ +rename(at|at2)?\(/ { renames[who]++ }
/^[0-9]+ +openat\(.*O_(WRONLY|RDWR|CREAT)/ { opens[who]++ }
END {
    for (i = 1; i <= n; i++) {
        k = order[i]; u = "ui" SUBSEP k; o = "other" SUBSEP k
        printf "%s, on the UI thread: %d file writes, %d fsyncs, %d renames, %d opens for writing; on other threads: %d, %d, %d, %d\n", k, writes[u], syncs[u], renames[u], opens[u], writes[o], syncs[o], renames[o], opens[o]
    }
}' "$trace"
