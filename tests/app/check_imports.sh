#!/bin/sh
# Fails when the executable imports a DLL that is not part of Windows itself (a MinGW runtime,
# a codec library), or lacks its icon or manifest.
objdump=$1 exe=$2
dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no imports found in $exe"; exit 1; }
status=0
for dll in $dlls; do
  case "$dll" in
    kernel32.dll|user32.dll|gdi32.dll|comdlg32.dll|comctl32.dll|ole32.dll|shell32.dll|advapi32.dll|msvcrt.dll|api-ms-win-*.dll)
      echo "ok: $dll" ;;
    *) echo "NOT A SYSTEM DLL: $dll"; status=1 ;;
  esac
done
"$objdump" -h "$exe" | grep -q '\.rsrc' || { echo "no resource section"; status=1; }
exit $status
