#!/usr/bin/env bash
# Installs every Debian package that the program, the build, the tests and the benchmarks need.
# Idempotent: quiet and quick when everything is there already.
set -euo pipefail

packages=(
    # What the program itself needs on a desktop: the opener of its web links and the prompt of
    # its elevated installer start.
    xdg-utils pkexec
    cmake ninja-build g++ pkg-config
    libgtest-dev googletest
    libcurl4-openssl-dev libssl-dev openssl libsqlite3-dev zlib1g-dev
    qt6-base-dev libgl-dev fonts-dejavu-core
    binutils-mingw-w64-i686
    clang-format coreutils python3 util-linux
    nginx-light squid openssl
    aria2 axel curl
    xvfb xauth xdotool x11-apps
)

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    # Services that the packages would start at install (nginx on port 80, squid on 3128) are
    # not wanted: the tests start their own on ephemeral ports.
    policy=/usr/sbin/policy-rc.d
    placed_policy=0
    if [[ ! -e $policy ]]; then
        printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
        "${sudo_cmd[@]}" chmod 755 "$policy"
        placed_policy=1
    fi
    status=0
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || status=$?
    if ((placed_policy)); then "${sudo_cmd[@]}" rm -f "$policy"; fi
    exit $status
fi
