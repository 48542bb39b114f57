# Shared by scripts/run and scripts/test: install what the build needs on a
# Debian 12 machine, then configure and build.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

# fonts-wine brings the Tahoma the windows are designed for; DejaVu is the
# fallback when it is missing. shared-mime-info checks the backup type the
# package installs. libsndfile1-dev (found through pkg-config) decodes the
# messages that --to=pcm converts and the contents window plays;
# qt6-multimedia-dev plays them. The playback test records them from a
# PulseAudio server of its own (pulseaudio, and parec from pulseaudio-utils).
readonly BUILD_PACKAGES=(g++ cmake ninja-build git clang-format libgtest-dev libcli11-dev nlohmann-json3-dev
  qt6-base-dev qt6-multimedia-dev fonts-wine fonts-dejavu-core shared-mime-info libsndfile1-dev pkg-config
  pulseaudio pulseaudio-utils)

# Installs the packages that are missing; as root with apt-get, otherwise
# through sudo when there is one.
ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Please install as root: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
  fi
  # The package lists once a run, not once a call.
  if [ "${LARKSPOOL_APT_UPDATED:-0}" != 1 ]; then
    "${sudo[@]}" apt-get update -qq
    export LARKSPOOL_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# install_in_background PACKAGES...: ensure_packages while the caller builds
# (on a fresh machine the download and unpacking of the toolchains take
# minutes); packages_installed waits for it and shows what it said. Without
# root, and without sudo that needs no password, it installs at once.
packages_pid=
packages_log=
install_in_background() {
  if [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then
    ensure_packages "$@"
    return
  fi
  packages_log=$(mktemp)
  ensure_packages "$@" >"$packages_log" 2>&1 &
  packages_pid=$!
}
packages_installed() {
  [ -n "$packages_pid" ] || return 0
  local status=0
  wait "$packages_pid" || status=$?
  packages_pid=
  cat "$packages_log"
  rm -f "$packages_log"
  return "$status"
}

# The options of the native build in build/, the same for scripts/run and
# scripts/test, so that neither rebuilds what the other built. Debug
# information is line tables only (-g1): backtraces and sanitizer reports
# still name the file and line, and the optimised build takes about a third
# less time than with full debug information (-g).
readonly NATIVE_BUILD_OPTIONS=(-DLARKSPOOL_WERROR=ON "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

# configure_and_build DIR [CMAKE OPTIONS...] [--target TARGET...]: the whole
# tree, or only the targets named after --target.
configure_and_build() {
  local dir=$1 options=() targets=()
  shift
  while [ $# -gt 0 ] && [ "$1" != --target ]; do
    options+=("$1")
    shift
  done
  [ $# -gt 0 ] && shift && targets=(--target "$@")
  cmake -S . -B "$dir" -G Ninja "${options[@]}" >/dev/null && cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}

# configure_and_build, showing its output only when it fails: a compile
# error is always shown, a successful build stays quiet.
quietly_configure_and_build() {
  local log
  log=$(mktemp)
  if ! configure_and_build "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "The build failed." >&2
    exit 1
  fi
  rm -f "$log"
}

# The fuzz targets (scripts/fuzz) need clang and its sanitizer and libFuzzer runtimes.
readonly FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# The Windows cross build (scripts/build-windows): MinGW-w64 in its -posix
# threading variant, GoogleTest's sources to build with it, and the 64-bit
# Wine the programs and tests run under (no 32-bit Wine, no i386 packages),
# with Xvfb for the desktop program's smoke test and a PulseAudio server
# (and parec) for its playback test; wixl (beside msitools, whose
# library it uses) builds the installer; locales holds the Japanese locale the
# code-page 932 check of the desktop program makes for Wine.
readonly WINDOWS_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools googletest libcli11-dev
  wine wine64 fonts-wine xvfb msitools wixl locales dpkg-dev pulseaudio pulseaudio-utils)

# build_windows_sndfile DIR: libsndfile for the Windows build, static and
# without external codec libraries, cross-built with MinGW-w64 from Debian's
# own source package (Debian's patches applied), which apt-get source fetches
# through an apt configuration of DIR's own: the machine's sources and lists
# stay as they are. Installs into DIR/prefix, once; dpkg-dev unpacks the
# package.
build_windows_sndfile() {
  local dir codename
  dir=$(realpath -m "$1")
  [ -f "$dir/prefix/lib/libsndfile.a" ] && return 0
  echo "Building libsndfile for Windows from Debian's source package in $dir"
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial" "$dir/source"
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  printf 'deb-src [signed-by=%s] http://deb.debian.org/%s %s main\n' \
    "$keyring" debian "$codename" "$keyring" debian-security "$codename-security" >"$dir/apt/sources.list"
  local apt=(apt-get -q -o Dir::Etc::SourceList="$dir/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$dir/apt/lists" -o Dir::Cache="$dir/apt/cache" -o Debug::NoLocking=1
    -o APT::Sandbox::User=root)
  "${apt[@]}" update >/dev/null
  rm -rf "$dir"/source/libsndfile-*/
  (cd "$dir/source" && "${apt[@]}" source libsndfile >/dev/null 2>&1)
  local sources=("$dir"/source/libsndfile-*/)
  cmake -Wno-dev -Wno-deprecated -S "${sources[0]}" -B "$dir/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$dir/prefix" -DBUILD_SHARED_LIBS=OFF \
    -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
    -DBUILD_REGTEST=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF >/dev/null
  cmake --build "$dir/build" -j "$(nproc)" >/dev/null
  cmake --install "$dir/build" >/dev/null
}

# prepare_wine_prefix DIR: creates the Wine prefix the Windows programs run in,
# once; the first start takes about half a minute. Mono and Gecko are left out.
prepare_wine_prefix() {
  local prefix
  prefix=$(realpath -m "$1")
  [ -f "$prefix/system.reg" ] && return 0
  echo "Preparing the Wine prefix $prefix"
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY='' wine wineboot --init >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver --wait
}
