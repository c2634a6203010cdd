#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, if any are missing.
# With --bench it also installs the tools the benchmarks compare against,
# with --fuzz the compiler and runtime of the fuzz targets.
set -euo pipefail
pkgs=(build-essential clang libclang-rt-14-dev cmake libgtest-dev libgmock-dev libbenchmark-dev libdivsufsort-dev libxxhash-dev xxhash pkg-config groff-base
      parallel  # GNU parallel: the test of the README's recipe for members across machines
      openssh-server openssh-client  # the same recipe's machines: an sshd on the loopback
      pybind11-dev python3-dev python3-pytest python3-numpy  # the Python module and its tests
      python3-venv)  # pip installs of the module into fresh virtual environments (python_venv_install)
if [[ "${1:-}" == "--fuzz" ]]; then
  pkgs+=(clang libclang-rt-14-dev)  # also in the base list: the sanitizer build uses them
fi
if [[ "${1:-}" == "--bench" ]]; then
  pkgs+=(hyperfine p7zip-full zpaq zstd xz-utils bzip2 fortunes fortunes-min linux-perf time
         g++-aarch64-linux-gnu qemu-user
         python3-matplotlib)  # bench/plots.py
fi
# One dpkg-query for every package; apt-get runs only when one is missing.
declare -A installed=()
while read -r name status; do
  if [[ $status == installed ]]; then installed[$name]=1; fi
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${pkgs[@]}" 2>/dev/null || true)
missing=()
for p in "${pkgs[@]}"; do
  [[ -n ${installed[$p]:-} ]] || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [[ $(id -u) -ne 0 ]] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
