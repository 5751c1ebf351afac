#!/bin/sh
# Output folders that cannot take a sheet, for the conversion tests: DIR/full, a small file system
# filled to the last byte, and DIR/readonly, one mounted read-only. Each holds an earlier sheet of
# every format (run_B2.png, .bmp, .jpg) that a failed write must leave as it is. Mounting needs
# root (CI runs as root); without it DIR/unavailable tells the test to skip.
#   full_disk.sh setup DIR | cleanup DIR
set -u
dir=$2
for m in "$dir/full" "$dir/readonly"; do
  while mountpoint -q "$m" 2>/dev/null; do umount "$m" || break; done
done
[ "$1" = cleanup ] && exit 0

rm -rf "$dir"
mkdir -p "$dir/full" "$dir/readonly"
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=128k tmpfs "$dir/full" 2>/dev/null &&
   mount -t tmpfs -o size=128k tmpfs "$dir/readonly" 2>/dev/null; then
  for m in "$dir/full" "$dir/readonly"; do
    for ext in png bmp jpg; do printf 'an earlier sheet' >"$m/run_B2.$ext"; done
  done
  dd if=/dev/zero of="$dir/full/filler" bs=1024 2>/dev/null || true
  mount -o remount,ro "$dir/readonly"
else
  touch "$dir/unavailable"
fi
exit 0
