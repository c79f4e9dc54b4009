#!/usr/bin/env bash
# What a technician meets of torvin-upload.exe under Wine, outside a run: its help speaks of
# Windows, and the package's README.txt lists every exit status the help lists; redirected
# output keeps its UTF-8 bytes; --dump-image writes the image as stored, with the SHA-256 the run
# log records; one port under two spellings is refused; a missing port points to --list-ports,
# which marks the COM ports that are not there.
#   technician_texts.sh TORVIN-UPLOAD.EXE README.TXT
set -uo pipefail
exe=$1 readme=$2
: "${WINEPREFIX:?run through scripts/test-windows.sh}"
work=$(mktemp -d /tmp/torvin-texts.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
windowsPath() { echo "Z:${1//\//\\}"; }

wine "$exe" --help >"$work/help" 2>"$work/err" || fail "--help: $(cat "$work/err")"
for linux in /dev/tty SIGINT SIGTERM; do
    ! grep -q "$linux" "$work/help" || fail "the Windows --help speaks of $linux"
done
for windows in 'Ctrl-Break' 'closing the console window' 'Device Manager' 'TRANSMISSÃO CONCLUIDA'; do
    grep -q "$windows" "$work/help" || fail "the Windows --help lacks '$windows'"
done
statuses=$(sed -n 's/^  \([0-9][0-9]*\)  .*/\1/p' "$work/help")
[[ -n $statuses ]] || fail "the --help lists no exit status"
for s in $statuses; do
    grep -q "^  $s  " "$readme" || fail "README.txt does not list the exit status $s"
done

wine "$exe" --dump-image >"$work/image.hex" 2>"$work/err" || fail "--dump-image: $(cat "$work/err")"
wine "$exe" --port COM200 --quiet --log "$(windowsPath "$work/run.jsonl")" >/dev/null 2>"$work/err"
got=$?
[[ $got == 5 ]] || fail "a port that does not exist gave status $got: $(cat "$work/err")"
grep -q -- '--list-ports' "$work/err" && ! grep -q 'no other program' "$work/err" ||
    fail "a port that does not exist is not pointed to --list-ports: $(cat "$work/err")"
sum=$(sha256sum "$work/image.hex" | cut -d' ' -f1)
grep -q "\"image_sha256\":\"$sum\"" "$work/run.jsonl" ||
    fail "--dump-image wrote $sum, the run log records $(grep -o '"image_sha256":"[^"]*"' "$work/run.jsonl")"

for second in com10 '\\.\COM10'; do
    wine "$exe" --port COM10 --port "$second" >/dev/null 2>"$work/err"
    got=$?
    [[ $got == 64 ]] || fail "--port COM10 --port $second gave status $got, not 64: $(cat "$work/err")"
done

wine "$exe" --list-ports >"$work/ports" 2>"$work/err" || fail "--list-ports: $(cat "$work/err")"
grep -q '^COM15 (not present)' "$work/ports" ||
    fail "--list-ports does not mark COM15, which the prefix lacks: $(cat "$work/ports")"
exit $((failures > 0))
