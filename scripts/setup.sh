#!/usr/bin/env bash
# Idempotent set-up: Debian packages the build needs, then .venv from Python 3.12.
# Fast when everything is already there (a stamp file records the installed pins).
set -euo pipefail
cd "$(dirname "$0")/.."

debs=(g++ cmake ninja-build libicu-dev libfmt-dev libgtest-dev libbenchmark-dev)
[ "${LUMRA_WITH_CLANG:-0}" = 1 ] && debs+=(clang libclang-rt-14-dev)
missing=()
for p in "${debs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing Debian packages: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null; then
    echo "setup: need root (or sudo) to install: ${missing[*]}" >&2; exit 1
  fi
  SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

python="${PYTHON:-}"
if [ -z "$python" ]; then
  root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
  python=$(ls -d "$root"/versions/3.12.*/bin/python3.12 2>/dev/null | sort -V | tail -n 1 || true)
fi
if [ -z "$python" ] || ! "$python" -c 'import sys; assert sys.version_info[:2] == (3, 12)' 2>/dev/null; then
  echo "setup: Python 3.12 not found under \$(pyenv root)/versions/3.12.*; install it (pyenv install 3.12) or pass PYTHON=/path/to/python3.12" >&2
  exit 1
fi

if [ ! -x .venv/bin/python ] || ! .venv/bin/python -c 'import sys; assert sys.version_info[:2] == (3, 12)' 2>/dev/null; then
  echo "setup: creating .venv from $python"
  rm -rf .venv
  "$python" -m venv .venv
fi
if ! cmp -s requirements-dev.txt .venv/.requirements-installed; then
  echo "setup: installing Python tools into .venv"
  .venv/bin/python -m pip install -q --disable-pip-version-check -r requirements-dev.txt
  cp requirements-dev.txt .venv/.requirements-installed
fi
