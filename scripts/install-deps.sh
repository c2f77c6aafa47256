#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Idempotent: apt is asked only for packages that are missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config clang clang-format libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev nlohmann-json3-dev
  # movie encoding, camera and microphone, sound files; ffmpeg/ffprobe for benchmarks and checks
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libavdevice-dev libavfilter-dev ffmpeg
  # stores and caches
  libsqlite3-dev sqlite3
  # JPEG, drawing, fonts
  libturbojpeg0-dev libcairo2-dev libfontconfig-dev fonts-dejavu-core
  # property lists, HTTP, XML, MD5, dates and locales
  libplist-dev libcurl4-openssl-dev libexpat1-dev libssl-dev libicu-dev
  # the phone on the desktop: window, mouse, keys and audio output, Xlib's error handlers; its
  # test runs a virtual X display and clicks through the XTest extension
  libsdl2-dev libx11-dev xvfb libxtst-dev
  # reachability tests make a network namespace of their own
  iproute2
  # mail tests read messages back with Python's own MIME parser
  python3
  # the test command traces the demo to see that nothing leaves the machine; fault tests kill
  # the program at a chosen system call
  strace
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${missing[@]}"
  exit 0
fi

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
