# Sourced by the scripts (not run): the build of the Windows programs, the making of a Wine prefix
# and the Debian source packages of the codec libraries, written once. The sourcing script sets
# `root` (the project) first.

# The folder of a Debian source package in third_party/src, fetched and unpacked there when it
# is missing (apt needs the source entries scripts/packages adds).
#   debian_source PACKAGE FOLDER_GLOB
debian_source() {
  local pkg=$1 glob=$2 src="$root/third_party/src"
  mkdir -p "$src"
  if ! compgen -G "$src/$glob/CMakeLists.txt" >/dev/null; then
    (cd "$src" && apt-get source -qq "$pkg" >/dev/null 2>&1 || apt-get source "$pkg") >&2
  fi
  compgen -G "$src/$glob/CMakeLists.txt" | head -n 1 | xargs dirname
}

# The Wine that is installed, as a prefix's marker records it: a prefix made by 64-bit Wine alone
# cannot run anything once wine32 is installed, and a 32-bit program needs a prefix made with it.
wine_made_by() {
  local wine32=no
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' && wine32=yes
  echo "wine32=$wine32"
}

# Configures the build folder DIR for the Windows target ARCH (x86_64 or i686) and builds the CMake
# TARGETS (every target when none) into it, the compiler's output in LOG. Settings for CMake's
# configure step come in the array `configure` when the caller sets it, e.g.
# configure=(-DSTRIPSHEET_TESTS=ON). Returns the build's status.
#   project_build DIR ARCH LOG [TARGET...]
project_build() {
  local dir=$1 arch=$2 log=$3
  shift 3
  local targets=() t
  for t in "$@"; do targets+=(--target "$t"); done
  cmake -S "$root" -B "$dir" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$arch-w64-mingw32.cmake" ${configure[@]+"${configure[@]}"} >/dev/null &&
    cmake --build "$dir" -j"$(nproc)" "${targets[@]}" >"$log" 2>&1
}

# The end of a failed build's log and the script's line saying so; then the script stops.
#   build_failed SCRIPT LOG WHAT
build_failed() {
  tail -40 "$2" 2>/dev/null || true
  echo "$1: the $3 build failed (log: $2)" >&2
  exit 1
}

# Makes the Wine prefix WINEPREFIX unless its marker says it was made as it is made here and by the
# Wine installed now. WINE... is the command that runs Wine for it (wine, or a build's wine-run).
# The prefix has no wait after each closed dialog (there is no window manager under Xvfb) and no
# crash dialog (a program that crashes ends at once with a line on its standard error instead of
# waiting behind a window nobody sees). A function named in `prefix_extras`, when the caller sets
# it, adds the caller's own settings before the marker is written.
#   wine_prefix_make SCRIPT WINE...
wine_prefix_make() {
  local script=$1
  shift
  local made_by marker="$WINEPREFIX/.stripsheet-ready"
  made_by=$(wine_made_by)
  [ "$(cat "$marker" 2>/dev/null)" != "$made_by" ] || return 0
  echo "$script: creating the Wine prefix $WINEPREFIX ($made_by)"
  rm -rf "$WINEPREFIX"
  "$@" wineboot -i >/dev/null 2>&1
  "$@" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  "$@" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  if [ -n "${prefix_extras:-}" ]; then "$prefix_extras"; fi
  wineserver -w
  echo "$made_by" >"$marker"
}
