#!/usr/bin/env bash
# The program must start on Windows without a common-controls 6 manifest, so
# Windows binds it to the comctl32 5.82 in System32. A function that only
# version 6 exports, imported by name, stops every start with "entry point not
# found" before the program runs. Wine has one comctl32 that exports
# everything, so no test under Wine can see it: this one reads the import
# table instead.
#
#   comctl32_imports_test.sh PROGRAM.exe [OBJDUMP]
#
# Every COMCTL32 import must be on the list below. The list holds functions
# that comctl32 had before version 6 (the documentation gives them a version
# of 4.x or 5.8x, or none, for the Windows 95 ones); anything else, an import
# by ordinal too, fails until it is looked up with GetProcAddress or checked
# against 5.82 and added here.
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 PROGRAM.exe [OBJDUMP]" >&2
  exit 2
fi
exe=$1
objdump=${2:-x86_64-w64-mingw32-objdump}

allowed=(
  InitCommonControls InitCommonControlsEx _TrackMouseEvent
  ImageList_Create ImageList_Destroy ImageList_Add ImageList_AddMasked ImageList_ReplaceIcon
  ImageList_GetIcon ImageList_Draw ImageList_GetImageCount
  PropertySheetW CreatePropertySheetPageW DestroyPropertySheetPage
  CreateStatusWindowW DrawStatusTextW CreateToolbarEx CreateUpDownControl
)

[ -f "$exe" ] || {
  echo "FAIL: no program at $exe"
  exit 1
}
if ! table=$("$objdump" -p "$exe"); then
  echo "FAIL: $objdump could not read $exe"
  exit 1
fi

# objdump lists each DLL's imports under "DLL Name: X" as "vma hint name"
# lines (an import by ordinal has no name), up to a blank line.
imports=$(awk '
  /DLL Name:/ { in_dll = (tolower($3) == "comctl32.dll"); next }
  /^[[:space:]]*$/ { in_dll = 0; next }
  in_dll && $1 != "vma:" { print ($3 != "" ? $3 : "ordinal " $2) }' <<<"$table")
if ! grep -qi 'DLL Name: comctl32\.dll' <<<"$table"; then
  echo "ok: $exe imports nothing from COMCTL32"
  exit 0
fi

bad=0
while IFS= read -r name; do
  [ -n "$name" ] || continue
  found=0
  for ok in "${allowed[@]}"; do
    [ "$name" = "$ok" ] && found=1 && break
  done
  if [ "$found" -eq 1 ]; then
    echo "ok: COMCTL32 $name"
  else
    echo "FAIL: COMCTL32 $name is not known to be in comctl32 5.82: look it up with GetProcAddress"
    bad=1
  fi
done <<<"$imports"
exit "$bad"
