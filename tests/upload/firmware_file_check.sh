#!/usr/bin/env bash
# Checks the committed firmware image with Debian's srecord, a reader independent of ours, and
# checks that the generator still writes it byte for byte.
#   firmware_file_check.sh HEXGEN IMAGE WORKDIR
set -euo pipefail
hexgen=$1 image=$2 work=$3
mkdir -p "$work"
# The application's program memory, as the uploader's header has it.
area=$("$hexgen" --area) || { echo "hexgen --area failed" >&2; exit 1; }
read -r begin end <<<"$area"
[[ $begin == 0x* && $end == 0x* ]] || { echo "hexgen --area said '$area'" >&2; exit 1; }

# srec_cat reads the whole file, checksums included; the only complaint allowed is the missing
# end-of-file record, which the image leaves out on purpose.
if ! srec_cat "$image" -Intel -o /dev/null 2>"$work/srec_cat.err"; then
    cat "$work/srec_cat.err" >&2
    echo "srec_cat refused $image" >&2
    exit 1
fi
# (srec_cat wraps its messages, so they are joined before the known warning is taken out.)
rest=$(tr -s ' \n' ' ' <"$work/srec_cat.err" |
    sed 's/srec_cat: [^ ]*: [0-9]*: warning: no end-of-file record//g' | tr -d ' ')
if [[ -n $rest ]]; then
    cat "$work/srec_cat.err" >&2
    echo "srec_cat complained about $image" >&2
    exit 1
fi

# Every byte lies in the application's program memory: cropping to it changes nothing.
srec_cmp "$image" -Intel "$image" -Intel -crop "$begin" "$end" 2>/dev/null || {
    echo "$image has data outside $begin..$end" >&2
    exit 1
}

"$hexgen" "$work/regenerated.hex"
if ! cmp "$image" "$work/regenerated.hex"; then
    echo "$image is not what hexgen writes: run build/bin/hexgen upload/firmware.hex" >&2
    exit 1
fi
echo "firmware image: accepted by srecord, inside $begin..$end, reproduced by hexgen"
