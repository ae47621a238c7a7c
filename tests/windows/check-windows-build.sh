#!/bin/sh
# The Windows build against the Linux build: the DLL imports only system DLLs
# and exports the two entry points; loaded under wine (on Xvfb) by the Windows
# probe host, it gives the Linux plugin's answers and frames.
#   check-windows-build.sh WINDOWS_BUILD LINUX_PLUGIN LINUX_PROBE
set -eu
windows="$1"
linux_plugin="$2"
linux_probe="$3"
dll="$windows/generator/Tessarvander.dll"
probe="$windows/tools/tessarvander-probe.exe"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }

imports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | sort | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll OPENGL32.dll msvcrt.dll " ] || fail "the DLL imports: $imports"
exports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
[ "$exports" = "SetLogCallback plugMain " ] || fail "the DLL exports: $exports"

# The frames compared: each fractal type, a palette and the mirror, pulse,
# rotation and centre offset.
cases="3=0.1 3=0.4|9=0.45 3=0.6|4=0.8 3=0.9|16=1|13=0.3 3=0.1|14=0.2|15=0.8|9=0.25"

export WINEPREFIX="$windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cat > "$work/on-windows.sh" <<SCRIPT
wine "$probe" "$dll" answers > "$work/windows-answers.txt"
n=0
for parameters in \$(echo "$cases" | tr ' ' '\n'); do
  wine "$probe" "$dll" frame 96 54 40 "$work/windows-\$n.f32" \$(echo "\$parameters" | tr '|' ' ')
  n=\$((n + 1))
done
wineserver -w
SCRIPT
xvfb-run -a sh "$work/on-windows.sh" || fail "the Windows probe did not run under wine"

"$linux_probe" "$linux_plugin" answers > "$work/linux-answers.txt"
tr -d '\r' < "$work/windows-answers.txt" > "$work/windows-answers-unix.txt"
if diff "$work/linux-answers.txt" "$work/windows-answers-unix.txt"; then
  echo "answers: the same ($(wc -l < "$work/linux-answers.txt") lines)"
else
  fail "the answers differ"
fi

n=0
for parameters in $(echo "$cases" | tr ' ' '\n'); do
  "$linux_probe" "$linux_plugin" frame 96 54 40 "$work/linux-$n.f32" $(echo "$parameters" | tr '|' ' ')
  printf 'frame %s: ' "$parameters"
  "$linux_probe" compare "$work/windows-$n.f32" "$work/linux-$n.f32" || fail "frame $parameters differs"
  n=$((n + 1))
done
exit $failed
