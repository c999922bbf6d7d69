#!/usr/bin/env bash
# Load test of the SPL service, run by hand (not by ctest): 64 connections for 10 s with wrk,
# once against an SPL meter document (each request crosses the link to the stand-in for KORU)
# and once against a static page. Prints requests/s and the 99th-percentile latency of each.
#   bench/levelwatch_load.sh [build folder]     (needs wrk: scripts/setup-deps installs it)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${KORU_BUILD_DIR:-$root/build}}"
host="$build/bench/levelwatch_load_host"
service="$build/src/app/levelwatch"
command -v wrk >/dev/null || { echo "wrk is not installed (scripts/setup-deps)"; exit 1; }
[ -x "$host" ] && [ -x "$service" ] || { echo "build levelwatch_load_host and levelwatch first"; exit 1; }

export KORU_DNSSD=off
fifo="$(mktemp -u)"
mkfifo "$fifo"
portfile="$(mktemp)"
# The host reads the fifo and this script holds its only writer: closing it ends the host. (A
# read-write descriptor as the host's input would be inherited by the service and keep it open.)
"$host" "$service" <"$fifo" >"$portfile" &
hostpid=$!
exec 3>"$fifo"
rm -f "$fifo"
trap 'exec 3>&-; wait $hostpid 2>/dev/null || true; rm -f "$portfile"' EXIT
for _ in $(seq 100); do
    [ -s "$portfile" ] && break
    sleep 0.1
done
port="$(head -n1 "$portfile")"
[ -n "$port" ] || { echo "the service did not start"; exit 1; }

run() {
    local name="$1" path="$2"
    local out
    out="$(wrk -t4 -c64 -d10s --latency "http://127.0.0.1:$port$path")"
    local rps p99 errors
    rps="$(awk '/Requests\/sec/ {print $2}' <<<"$out")"
    p99="$(awk '$1 == "99%" {print $2}' <<<"$out")"
    errors="$(awk '/Non-2xx|Socket errors/ {print}' <<<"$out")"
    printf '%-14s %10s req/s   p99 %8s   %s\n' "$name" "$rps" "$p99" "$errors"
}
run "SPL document" "/spl/Meter%201"
run "static page" "/index.html"
