#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test velko. Idempotent and
# quick when everything is already present.
set -euo pipefail

APT_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libqpdf-dev libicu-dev libpng-dev zlib1g-dev nlohmann-json3-dev libgtest-dev
  clang libclang-rt-14-dev qpdf
  fonts-hosny-amiri
)
PY_PACKAGES=(scikit-build-core pybind11 pytest ninja)

missing=()
for p in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

PY=${PYTHON:-python3}
need_py=()
for p in "${PY_PACKAGES[@]}"; do
  mod=${p//-/_}
  [ "$mod" = "scikit_build_core" ] || true
  $PY -c "import importlib.util,sys; sys.exit(0 if importlib.util.find_spec('$mod') else 1)" 2>/dev/null || need_py+=("$p")
done
if ((${#need_py[@]})); then
  echo "setup: pip installing ${need_py[*]}"
  $PY -m pip install -q "${need_py[@]}"
fi
