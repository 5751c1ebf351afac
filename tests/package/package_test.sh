#!/bin/sh
# package_test.sh ZIP WINE_RUN STRIP WORK OBJDUMP: unpacks ZIP into WORK, checks the files a user
# must get, and converts STRIP (a horizontal strip of 8 frames of 32 x 32) with each packaged
# program: the windowed one and its console twin, which a prompt must wait for.
set -eu
zip=$1 run=$2 strip=$3 work=$4 objdump=$5
fail() { echo "package: $*" >&2; exit 1; }
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

rm -rf "$work"
mkdir -p "$work/sheets"
unzip -q "$zip" -d "$work"
folder=$(echo "$work"/StripSheet-*)
for file in StripSheet.exe StripSheet.com README.txt LICENSE THIRD-PARTY-NOTICES.txt; do
  [ -s "$folder/$file" ] || fail "$file is missing from $zip"
done
grep -q "MIT License" "$folder/LICENSE" || fail "LICENSE is not the project's licence"
for notice in "libpng 1" "libjpeg-turbo 2" "zlib 1" "Independent JPEG Group" "Jean-loup Gailly"; do
  grep -q "$notice" "$folder/THIRD-PARTY-NOTICES.txt" || fail "the notices lack \"$notice\""
done

for program in "StripSheet.exe Windows GUI" "StripSheet.com Windows CUI"; do
  "$objdump" -p "$folder/${program%% *}" | grep -q "^Subsystem.*(${program#* })" ||
    fail "${program%% *} is not a ${program#* } program"
done

cp "$strip" "$work/"
for program in StripSheet.exe StripSheet.com; do
  rm -f "$work/sheets"/*
  status=0
  "$run" "$folder/$program" "/out:$(windows_path "$work/sheets")" \
    "$(windows_path "$work/$(basename "$strip")")" >"$work/output.txt" 2>&1 || status=$?
  cat "$work/output.txt"
  [ $status = 0 ] || fail "the packaged $program ended with $status"
  grep -q "Files Converted: 1" "$work/output.txt" || fail "$program does not count the strip as converted"
  sheet=$(echo "$work/sheets"/*_B8.png)
  size=$(/usr/bin/python3 -c 'import sys; from PIL import Image; print(*Image.open(sys.argv[1]).size)' "$sheet")
  [ "$size" = "256 32" ] || fail "the sheet $sheet is $size, not 256 32"
  echo "package: $program of $(basename "$zip") converts $(basename "$strip") to $(basename "$sheet")"
done
