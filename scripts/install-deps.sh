#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Idempotent and silent when everything is present; works as root or through sudo.
set -euo pipefail

packages=(
  cmake
  ninja-build
  g++
  make
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  libboost-json1.81-dev
  clang
  libclang-rt-14-dev
  clang-format
  python3
)

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$pkg")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo_cmd=()
elif command -v sudo >/dev/null 2>&1; then
  sudo_cmd=(sudo)
else
  echo "install-deps: missing packages (${missing[*]}) and neither root nor sudo is available" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq >/dev/null
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
