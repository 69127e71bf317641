#!/usr/bin/env bash
# Plays a scripted editor session against the release server and prints, message by message,
# what the editor receives. Needs build/release/quib-lsp (make release) and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
binary=build/release/quib-lsp
if [ ! -x "$binary" ]; then
  echo "demo: $binary is missing; run 'make release' first" >&2
  exit 1
fi
exec python3 scripts/demo_session.py "$binary" examples/Quibfile
