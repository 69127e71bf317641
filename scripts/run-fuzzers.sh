#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for SECONDS each, one after another, starting from its
# seed corpus. New corpus entries go to a temporary copy, never into the repository; a finding
# is kept under build/fuzz/findings/<target>/ and makes the script fail.
# Usage: scripts/run-fuzzers.sh SECONDS [TARGET...]   (build the `fuzz` preset first)
set -euo pipefail

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/fuzz/fuzz"
targets=("$@")
[ ${#targets[@]} -eq 0 ] &&
  targets=(fuzz_parse fuzz_analyze fuzz_format fuzz_position fuzz_transport fuzz_server)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=()
for target in "${targets[@]}"; do
  if [ ! -x "$bin/$target" ]; then
    echo "run-fuzzers: $bin/$target is missing; build the fuzz preset first" >&2
    exit 2
  fi
  case $target in
    fuzz_transport) dict=transport.dict ;;
    fuzz_server) dict=server.dict ;;
    *) dict=quib.dict ;;
  esac
  findings="$root/build/fuzz/findings/$target"
  rm -rf "$findings"
  mkdir -p "$findings" "$work/$target"
  cp -r "$root/fuzz/corpus/$target/." "$work/$target/"
  log="$findings/log.txt"
  echo "== $target (${seconds}s)"
  # Memory: 1 GiB in all (the sanitizers' own share included), 256 MiB for one allocation.
  # -timeout turns a hang into a finding.
  if "$bin/$target" -max_total_time="$seconds" -rss_limit_mb=1024 -malloc_limit_mb=256 \
    -timeout=10 \
    -dict="$root/fuzz/dict/$dict" -artifact_prefix="$findings/" -print_final_stats=1 \
    "$work/$target" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units' "$log" | sed 's/^stat::number_of_executed_units: */   runs: /' || true
    rm -rf "$findings"
  else
    echo "   FINDING: see $findings" >&2
    grep -E 'fuzz check failed|internal error|ERROR: |SUMMARY: ' "$log" | head -5 >&2 || true
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "run-fuzzers: findings in ${failed[*]}" >&2
  exit 1
fi
