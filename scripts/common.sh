# SPDX-License-Identifier: ISC
# Shared by the README's commands: the Debian packages the project needs and
# a check that installs them (as root) or says how to.
# shellcheck shell=bash disable=SC2034 # the variables are for the scripts that source this file

ZENDRIK_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Build and library packages: the plugin and zendrik-mask.
ZENDRIK_BUILD_PACKAGES=(
  build-essential cmake pkg-config
  lv2-dev liblilv-dev libsndfile1-dev libmpg123-dev libcli11-dev libtag1-dev libflac-dev
  libpocketsphinx-dev pocketsphinx-en-us libespeak-ng-dev libsoxr-dev libutf8proc-dev nlohmann-json3-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libxxhash-dev libebur128-dev
)
# What the tests and the benchmarks build with, and the browser the review
# page's test drives.
ZENDRIK_TEST_BUILD_PACKAGES=(
  libgtest-dev libbenchmark-dev chromium chromium-driver python3-selenium
)
# Hosts and tools the tests and the main job drive.
ZENDRIK_HOST_PACKAGES=(
  lilv-utils lv2file sordi sox ffmpeg flac id3v2 sndfile-programs pocketsphinx-testdata asterisk-core-sounds-en-g722
  python3 mplayer
)
# A one-node Slurm cluster for the batch test.
ZENDRIK_CLUSTER_PACKAGES=(
  slurmctld slurmd slurm-client munge
)
# Hardening: memory and system-call checkers, a real-time host under JACK,
# clang with its sanitizer and libFuzzer runtimes, and PipeWire with
# WirePlumber (and the D-Bus it needs) for zendrik live's virtual microphone.
ZENDRIK_HARDENING_PACKAGES=(
  valgrind strace jalv jackd2 clang-14 libclang-rt-14-dev
  pipewire pipewire-bin wireplumber dbus-daemon
)
# The style checks the default workflow runs.
ZENDRIK_STYLE_PACKAGES=(
  clang-format shellcheck
)
# Wanted by the benchmarks but not required: /usr/bin/time for peak memory
# and sndfile-info for bench/large_wav.sh.
ZENDRIK_OPTIONAL_PACKAGES=(
  time sndfile-programs
)

# ensure_packages PKG...: installs what is missing when run as root,
# otherwise prints the exact command and fails.
ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "zendrik: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"
  else
    echo "zendrik: missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    return 1
  fi
}

# work_folder KEPT NAME: sets tmp to the folder KEPT (made when missing), where
# a measurement keeps its files to look into or carry on; without KEPT, to a
# new temporary folder NAME.XXXXXX, removed when the script exits.
work_folder() {
  if [ -n "$1" ]; then
    mkdir -p "$1"
    tmp="$(cd "$1" && pwd)"
  else
    tmp="$(mktemp -d "${TMPDIR:-/tmp}/$2.XXXXXX")"
    trap 'rm -rf "$tmp"' EXIT
  fi
}
