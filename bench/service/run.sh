#!/usr/bin/env bash
# Requests per second of the version command over keep-alive TLS, measured by wrk from a
# second process. The service closes a connection after five requests, so the figure includes
# a TLS handshake every five requests, as a browser would see it.
# Usage: bench/service/run.sh [seconds] [connections]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-10}
connections=${2:-8}
dist=${ORVO_BUILD_DIR:-$root/build}/dist
[[ -x "$dist/orvohttps" ]] || { echo "build first: scripts/build" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is missing: scripts/bootstrap" >&2; exit 1; }

work=$(mktemp -d)
trap 'curl -sk https://localhost:38951/stop >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cp "$dist/orvohttps" "$work/"
"$root/scripts/make-dev-cert" "$work" >/dev/null
echo "*" >"$work/allowed-origins"  # the benchmark's Origin is served without a question
"$work/orvohttps" >/dev/null &
for _ in $(seq 100); do
  curl -sk https://localhost:38951/hi >/dev/null 2>&1 && break
  sleep 0.05
done

wrk -t2 -c"$connections" -d"${seconds}s" -s "$(dirname "$0")/post_version.lua" \
  https://localhost:38951/
