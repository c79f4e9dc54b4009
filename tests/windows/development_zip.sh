#!/usr/bin/env bash
# The developers' ZIP on its own, as its README.txt says to use it: the example it carries builds
# with CMake and the cross toolchain, finding the package through TorvinComPort_DIR, and by hand
# with the README's command; both programs need no DLL that Windows lacks and run under Wine.
#   development_zip.sh ZIP TOOLCHAIN-FILE
set -uo pipefail
zip=$1 toolchain=$2
work=$(mktemp -d /tmp/torvin-devzip.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
root=$work/torvin-comport-dev
mkdir -p "$root" && (cd "$root" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip" >&2; exit 1; }
# CPack puts the files in a folder named as the ZIP.
top=$(find "$root" -name README.txt -printf '%h\n' -quit)
readme=$top/README.txt
[[ -f $readme ]] || { echo "FAIL: the ZIP has no README.txt" >&2; exit 1; }
grep -q 'Ctrl-Z then Enter' "$top/examples/comport-terminal/main.cpp" ||
    fail "the example does not say how its input ends on Windows"

# The README's commands, with the ZIP where it says /opt/torvin-comport-dev.
readmeCommand() { # the indented lines from the one starting with $1, joined where they end in '\'
    awk -v start="$1" 'index($0, "    " start) == 1 { on = 1 } on { sub(/^    /, ""); line = line $0
        if (line ~ /\\$/) { sub(/\\$/, "", line); next } print line; exit }' "$readme" |
        sed -e "s|/opt/torvin-comport-dev|$top|g"
}
configure=$(readmeCommand 'cmake -S . -B build')
byHand=$(readmeCommand 'x86_64-w64-mingw32-g++-posix')
[[ -n $configure && -n $byHand ]] || fail "README.txt does not give the CMake and the by-hand commands"

example=$work/example
cp -r "$top/examples/comport-terminal" "$example"
(cd "$example" && eval "${configure//mingw-w64-x86_64.cmake/$toolchain} -G Ninja" >/dev/null &&
    cmake --build build >"$work/cmake.log" 2>&1) ||
    fail "the example does not build with the README's CMake command: $(tail -20 "$work/cmake.log")"
(cd "$example" && eval "${byHand/myprogram.cpp/main.cpp}" >"$work/hand.log" 2>&1) ||
    fail "the example does not build with the README's command: $(tail -20 "$work/hand.log")"

for exe in "$example/build/comport-terminal.exe" "$example/myprogram.exe"; do
    [[ -f $exe ]] || continue
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p' |
        grep -iE 'libstdc|libgcc|libwinpthread' || true)
    [[ -z $dlls ]] || fail "$(basename "$exe") needs $dlls"
    wine "$exe" COM200 </dev/null >/dev/null 2>"$work/err"
    got=$?
    [[ $got == 1 ]] && grep -q '^comport-terminal: Unable to open com port' "$work/err" ||
        fail "$(basename "$exe") on a missing port: status $got, '$(cat "$work/err")'"
done
exit $((failures > 0))
