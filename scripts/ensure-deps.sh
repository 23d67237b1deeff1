#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing (quiet and idempotent otherwise).
set -euo pipefail
packages=(cmake g++ make libgtest-dev nlohmann-json3-dev libbenchmark-dev g++-mingw-w64-x86-64 wine libssl-dev python3
    clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    # Installed, not merely known with its configuration files left over.
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
