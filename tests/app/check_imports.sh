#!/bin/sh
# check_imports.sh OBJDUMP EXE SUBSYSTEM: fails when the executable imports a DLL that is not part
# of Windows itself (a MinGW runtime, a codec library), lacks its icon or manifest, is not a
# SUBSYSTEM program ("Windows GUI", "Windows CUI"), asks for other rights than the user's, or lacks
# a flag of its address space: a random base, no code run from data, 4 GB for the 32-bit program
# on a 64-bit Windows, high addresses for the 64-bit one.
objdump=$1 exe=$2 subsystem=$3
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
headers=$("$objdump" -p "$exe")
echo "$headers" | grep -q "^Subsystem.*($subsystem)" || { echo "not a $subsystem program"; status=1; }
wide=
echo "$headers" | grep -q '^Magic.*(PE32+)' && wide=HIGH_ENTROPY_VA
for flag in "large address aware" DYNAMIC_BASE NX_COMPAT $wide; do
  echo "$headers" | grep -q "^\s*$flag\$" || { echo "no $flag"; status=1; }
done
/usr/bin/python3 - "$exe" <<'CHECK' || status=1
import re, sys, xml.etree.ElementTree as tree
manifest = re.search(rb"<\?xml.*?</assembly>", open(sys.argv[1], "rb").read(), re.S)
level = manifest and tree.fromstring(manifest.group()).find(
    ".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")
if level is None or level.attrib != {"level": "asInvoker", "uiAccess": "false"}:
    sys.exit("the manifest does not ask to run with the user's own rights")
CHECK
exit $status
