#!/bin/sh
# package_test.sh ZIP WINE_RUN STRIP WORK: unpacks ZIP into WORK, checks the files a user must get,
# and converts STRIP (a horizontal strip of 8 frames of 32 x 32) with the packaged program.
set -eu
zip=$1 run=$2 strip=$3 work=$4
fail() { echo "package: $*" >&2; exit 1; }
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

rm -rf "$work"
mkdir -p "$work/sheets"
unzip -q "$zip" -d "$work"
folder=$(echo "$work"/StripSheet-*)
for file in StripSheet.exe README.txt LICENSE THIRD-PARTY-NOTICES.txt; do
  [ -s "$folder/$file" ] || fail "$file is missing from $zip"
done
grep -q "MIT License" "$folder/LICENSE" || fail "LICENSE is not the project's licence"
for notice in "libpng 1" "libjpeg-turbo 2" "zlib 1" "Independent JPEG Group" "Jean-loup Gailly"; do
  grep -q "$notice" "$folder/THIRD-PARTY-NOTICES.txt" || fail "the notices lack \"$notice\""
done

cp "$strip" "$work/"
status=0
"$run" "$folder/StripSheet.exe" "/out:$(windows_path "$work/sheets")" \
  "$(windows_path "$work/$(basename "$strip")")" >"$work/output.txt" 2>&1 || status=$?
cat "$work/output.txt"
[ $status = 0 ] || fail "the packaged program ended with $status"
grep -q "Files Converted: 1" "$work/output.txt" || fail "the summary does not count the strip as converted"
sheet=$(echo "$work/sheets"/*_B8.png)
size=$(/usr/bin/python3 -c 'import sys; from PIL import Image; print(*Image.open(sys.argv[1]).size)' "$sheet")
[ "$size" = "256 32" ] || fail "the sheet $sheet is $size, not 256 32"
echo "package: $(basename "$zip") converts $(basename "$strip") to $(basename "$sheet")"
