#!/usr/bin/env bash
# packages_test.sh SCRIPT WORK: runs scripts/packages (SCRIPT) against a fake apt-get that fails the
# way a package mirror in the middle of a sync does, and checks what it installs, says and leaves.
set -euo pipefail
script=$1 work=$2
fail() { echo "packages: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/bin" "$work/project/scripts"
cp "$script" "$work/project/scripts/packages"
touch "$work/sources"

# The fakes: every package is missing; `apt-get update` fails the first $UPDATE_FAILS times as the
# mirror did; `apt-get install` refuses the packages in $BROKEN as apt does. Calls go to calls.log.
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >>"$WORK/calls.log"
case $1 in
update)
  n=$(grep -c '^apt-get update' "$WORK/calls.log")
  [ "$n" -gt "$UPDATE_FAILS" ] && exit 0
  echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100 ;;
install)
  for p in "$@"; do
    case " $BROKEN " in *" $p "*)
      echo "The following packages have unmet dependencies:"
      echo " libwine:i386 : Depends: libgstreamer-plugins-base1.0-0:i386 (>= 1.0.0) but it is not going to be installed"
      echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
      exit 100 ;;
    esac
  done
  exit 0 ;;
esac
EOF
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

# run NAME UPDATE_FAILS BROKEN: runs the script on three packages; its output goes to NAME.out.
run() {
  rm -f "$work/calls.log"
  : >"$work/calls.log"
  set +e
  PATH="$work/bin:$PATH" WORK=$work UPDATE_FAILS=$2 BROKEN=$3 STRIPSHEET_APT_PAUSE=0 \
    STRIPSHEET_APT_SOURCES="$work/sources" \
    "$work/project/scripts/packages" pngcheck zip wine32:i386 >"$work/$1.out" 2>&1
  status=$?
  set -e
}
updates() { grep -c '^apt-get update' "$work/calls.log" || true; }
note="$work/project/third_party/wine32-missing"

# A mirror that stays out of sync, and wine32 that cannot be installed: the rest installs, the run
# goes on, and the reason is kept for the test script.
run wine32 99 "wine32:i386"
[ $status = 0 ] || fail "a missing wine32 stopped the set-up: $(cat "$work/wine32.out")"
[ "$(updates)" = 3 ] || fail "the update was tried $(updates) times, not 3"
grep -q 'install -y -qq --no-install-recommends pngcheck zip' "$work/calls.log" ||
  fail "the 64-bit packages were not installed"
grep -q 'generated breaks.*libgstreamer' "$note" || fail "the note lacks apt's reason: $(cat "$note" 2>&1)"
grep -q '^setup: cannot install wine32:i386.*not tested: .*generated breaks' "$work/wine32.out" ||
  fail "no line says wine32 is missing: $(cat "$work/wine32.out")"

# A mirror that recovers: the update is tried again, everything installs and the note goes.
run recovers 2 ""
[ $status = 0 ] || fail "a recovered mirror ended with $status: $(cat "$work/recovers.out")"
[ "$(updates)" = 3 ] || fail "the update was run $(updates) times, not 3"
grep -q 'install .*wine32:i386' "$work/calls.log" || fail "wine32 was not installed"
[ ! -e "$note" ] || fail "the wine32 note was left although wine32 installed"

# Any other package that cannot be installed stops the run with one line naming it.
run plain 99 "zip"
[ $status != 0 ] || fail "a package that could not be installed ended with 0"
last=$(tail -n 1 "$work/plain.out")
[[ $last == "setup: cannot install zip: Error, pkgProblemResolver::Resolve generated breaks"* ]] ||
  fail "the last line does not name the package and apt's reason: $last"
echo "packages: all cases passed"
