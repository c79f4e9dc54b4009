#!/usr/bin/env bash
# Builds the Debian packages into build/packages/ and checks them as a user would meet them:
# lintian finds no error; each package holds its files; the programs, unpacked into a temporary
# folder, run from there; and the example terminal in examples/ builds against the unpacked
# development package (through its CMake package and through pkg-config, never the build tree)
# and talks to the unpacked monitor-sim over a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "check-package: $*" >&2
    exit 1
}

log=$(mktemp "${TMPDIR:-/tmp}/torvin-cpack.XXXXXX")
cmake --build build --target package >"$log" 2>&1 || { cat "$log"; rm -f "$log"; fail "CPack failed"; }
rm -f "$log"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
arch=$(dpkg --print-architecture)
programs=build/packages/torvin-updater_${version}_${arch}.deb
development=build/packages/libtorvin-comport-dev_${version}_${arch}.deb
[[ -f $programs && -f $development ]] || fail "CPack made no $programs and $development"

# lintian refuses nothing but warns when run as root; errors fail the check.
lintian --fail-on error --tag-display-limit 0 "$programs" "$development" 2>&1 |
    grep -v 'running with root privileges' || true
lintian --fail-on error -q "$programs" "$development" >/dev/null 2>&1 ||
    fail "lintian reports errors (above)"
# Built as Debian builds its programs (dpkg-buildflags): lintian finds no hardening missing, even
# among the notes it only shows when asked.
hardening=$(lintian -I --tag-display-limit 0 "$programs" "$development" 2>/dev/null | grep ': hardening-' || true)
[[ -z $hardening ]] || fail "the programs lack Debian's hardening: $hardening"

work=$(mktemp -d "${TMPDIR:-/tmp}/torvin-package.XXXXXX")
sim=""
cleanup() {
    [[ -n $sim ]] && { kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; }
    [[ -n ${terminal:-} ]] && { kill "$terminal" 2>/dev/null || true; wait "$terminal" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

# --- contents ---
contains() {
    local deb=$1
    shift
    local listing
    listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
    for f in "$@"; do
        grep -qxF "./$f" <<<"$listing" || fail "$(basename "$deb") lacks /$f"
    done
}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
contains "$programs" usr/bin/torvin-updater usr/bin/torvin-upload usr/bin/monitor-sim \
    usr/share/applications/torvin-updater.desktop \
    usr/share/icons/hicolor/scalable/apps/torvin-updater.svg \
    usr/share/man/man1/torvin-updater.1.gz usr/share/man/man1/torvin-upload.1.gz \
    usr/share/man/man1/monitor-sim.1.gz usr/share/doc/torvin-updater/copyright
contains "$development" usr/include/torvin/comport/ComPort.h \
    usr/include/torvin/comport/driver/ComDriver.h usr/include/torvin/framework/EventSlot.h \
    "usr/lib/$multiarch/libtorvin-comport.a" "usr/lib/$multiarch/libtorvin-framework.a" \
    "usr/lib/$multiarch/cmake/TorvinComPort/TorvinComPortConfig.cmake" \
    "usr/lib/$multiarch/pkgconfig/torvin-comport.pc" \
    usr/share/doc/libtorvin-comport-dev/html/index.html \
    usr/share/doc/libtorvin-comport-dev/examples/comport-terminal/main.cpp \
    usr/share/doc/libtorvin-comport-dev/examples/comport-terminal/CMakeLists.txt
# The third-party code compiled into the programs (header-only libraries) is named with its
# licence: a Files paragraph for its headers and the licence's text in a paragraph of its own.
dpkg-deb --fsys-tarfile "$programs" | tar -xO ./usr/share/doc/torvin-updater/copyright >"$work/copyright"
for library in "CLI/*:BSD-3-clause" "nlohmann/*:Expat"; do
    files=${library%%:*} licence=${library#*:}
    awk -v files="Files: $files" -v licence="License: $licence" '
        $0 == files { stanza = 1 } /^$/ { stanza = 0; blank = 1; next }
        stanza && $0 == licence { named = 1 }
        blank && $0 == licence { text = 1 } { blank = 0 }
        text == 1 && /^ / { text = 2 }
        END { exit !(named && text == 2) }' "$work/copyright" ||
        fail "the copyright file does not name $files with the $licence licence and its text"
done
# Only what a program includes: not the device layer's backends.
! dpkg-deb -c "$development" | grep -q 'include/torvin/comport/driver/posix/' ||
    fail "$(basename "$development") installs the device layer's POSIX internals"
# The CMake package finds libudev through pkg-config: the package depends on it.
grep -q 'pkg-config' <<<"$(dpkg-deb -f "$development" Depends)" ||
    fail "$(basename "$development") does not depend on pkg-config, which its CMake package uses"
depends=$(dpkg-deb -f "$programs" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "the programs' dependencies miss Qt: $depends"

# --- the programs, unpacked ---
dpkg-deb -x "$programs" "$work/root"
bin=$work/root/usr/bin
"$bin/torvin-upload" --help >"$work/help" || fail "the installed torvin-upload --help failed"
grep -q '^Usage: torvin-upload' "$work/help" || fail "torvin-upload --help: $(head -3 "$work/help")"
"$bin/torvin-upload" --list-ports >"$work/ports" || fail "torvin-upload --list-ports failed"
[[ $(head -1 "$work/ports") == "COM1: /dev/ttyS0"* ]] ||
    fail "torvin-upload --list-ports: $(head -3 "$work/ports")"
# Every program answers --help and --version without a display, with the project's version.
for p in torvin-updater torvin-upload monitor-sim; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/$p" --help >/dev/null 2>"$work/err" ||
        fail "the installed $p --help failed: $(cat "$work/err")"
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/$p" --version 2>&1) || true
    [[ $said == "$p $version" ]] || fail "the installed $p --version says '$said', not '$p $version'"
    zcat "$work/root/usr/share/man/man1/$p.1.gz" | grep -qi "^\.TH \"\?$p" ||
        fail "the man page of $p has no title"
done
scripts/check-man-pages.sh "$work/root/usr/share/man/man1" "$bin" torvin-updater torvin-upload \
    monitor-sim
# Words a reader copies or looks for stand whole on one line of the rendered page.
for wanted in "torvin-upload:/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X1-if00-port0" \
    "torvin-updater:TORVIN_RUN_LOG=" "torvin-upload:ls -l /dev/serial/by-id"; do
    page=${wanted%%:*} words=${wanted#*:}
    zcat "$work/root/usr/share/man/man1/$page.1.gz" |
        LC_ALL=C.UTF-8 groff -k -man -Tutf8 -rLL=80n -P-cbou 2>/dev/null | grep -qF -- "$words" ||
        fail "$page(1) does not show '$words' whole on one line"
done
desktop=$work/root/usr/share/applications/torvin-updater.desktop
grep -qx 'Exec=torvin-updater' "$desktop" && grep -qx 'Icon=torvin-updater' "$desktop" ||
    fail "the menu entry does not start the installed program with its icon"

# --- the example against the unpacked development package ---
dpkg-deb -x "$development" "$work/dev"
prefix=$work/dev/usr
# Only the component's public face is installed: what a program includes and what that includes,
# complete (they compile together from the package alone), and none of the internals.
headers=$prefix/include/torvin
for internal in framework/MessageWindow.h framework/ThreadHub.h comport/ComThread.h \
    comport/driver/posix comport/driver/win32 comport/settings/Win32RegistryStore.h; do
    [[ ! -e $headers/$internal ]] || fail "the development package installs $internal, an internal"
done
(cd "$headers" && find . -name '*.h' -printf '#include <%P>\n') |
    c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I"$headers" -x c++ - ||
    fail "the installed headers do not compile on their own"
# The component's headers need C++20: every imported target says so, and the example leaves it to
# them, as the README's snippet does.
targets=$prefix/lib/$multiarch/cmake/TorvinComPort/TorvinComPortTargets.cmake
for target in ComPort Framework; do
    awk -v t="Torvin::$target" '$0 ~ "set_target_properties\\(" t " " { on = 1 }
        on && /INTERFACE_COMPILE_FEATURES "cxx_std_20"/ { found = 1 } on && /^\)/ { on = 0 }
        END { exit !found }' "$targets" ||
        fail "the installed Torvin::$target does not carry its C++20 requirement"
done
! grep -q 'CXX_STANDARD' examples/comport-terminal/CMakeLists.txt ||
    fail "the example sets a C++ standard of its own; the installed targets must bring it"
# What a newcomer trips over is said atop the installed comport/ComPort.h and on the API
# reference's main page: reads that return at once, events that wait for the main thread's
# queue, the system's words for a failed open.
for where in "$prefix/include/torvin/comport/ComPort.h" \
    "$prefix/share/doc/libtorvin-comport-dev/html/index.html"; do
    for note in setReadTotalConstant smNone systemErrorMessage; do
        grep -q "$note" "$where" || fail "$where does not tell about $note"
    done
done
# The reference: a section ruler of a header ("// --- lifecycle ---") describes no member, and the
# class a program uses names the header it includes.
html=$prefix/share/doc/libtorvin-comport-dev/html
! grep -qE '(lifecycle|settings storage|line state) -----' "$html"/class*.html ||
    fail "the API reference shows a section ruler as a member's description"
sed 's/<[^>]*>//g' "$html/index.html" | grep -qF '#include &lt;comport/ComPort.h&gt;' ||
    fail "the API reference's first page does not name the header to include"
# The example as the package ships it, not the repository's copy.
examples=$prefix/share/doc/libtorvin-comport-dev/examples
cmake -S "$examples/comport-terminal" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null ||
    fail "the example does not configure against the installed package"
cmake --build "$work/example" >/dev/null || fail "the example does not build"
grep -q "$prefix/include/torvin" "$work/example/build.ninja" ||
    fail "the example did not take its headers from the installed package"
PKG_CONFIG_PATH="$prefix/lib/$multiarch/pkgconfig" pkg-config --exists torvin-comport ||
    fail "pkg-config does not find torvin-comport"
# shellcheck disable=SC2046 # the flags are words
c++ -std=c++20 -Wall -Wextra -Werror -o "$work/terminal-pc" "$examples/comport-terminal/main.cpp" \
    $(PKG_CONFIG_PATH="$prefix/lib/$multiarch/pkgconfig" pkg-config --cflags --libs torvin-comport) ||
    fail "the example does not build with the flags pkg-config gives"

# A port that cannot be opened: the example says why in the system's words.
status=0
"$work/example/comport-terminal" "$work/no-such-port" </dev/null >/dev/null 2>"$work/terminal.log" ||
    status=$?
[[ $status -eq 1 ]] && grep -q 'No such file or directory' "$work/terminal.log" ||
    fail "comport-terminal on a missing port (status $status): '$(cat "$work/terminal.log")'"

# The board's Monitor answers the programming-mode command with "[N]".
"$bin/monitor-sim" --link "$work/ttyBoard" >/dev/null 2>"$work/sim.log" &
sim=$!
for _ in $(seq 100); do
    [[ -e $work/ttyBoard ]] && break
    sleep 0.05
done
[[ -e $work/ttyBoard ]] || fail "monitor-sim gave no line: $(cat "$work/sim.log")"
for example in "$work/example/comport-terminal" "$work/terminal-pc"; do
    mkfifo "$work/typed"
    "$example" "$work/ttyBoard" <"$work/typed" >"$work/received" 2>"$work/terminal.log" &
    terminal=$!
    exec 3>"$work/typed"
    printf '(%%P31)\n' >&3
    for _ in $(seq 200); do
        grep -qF '[N]' "$work/received" && break
        sleep 0.05
    done
    exec 3>&-
    status=0
    wait "$terminal" || status=$?
    terminal=""
    rm -f "$work/typed"
    [[ $status -eq 0 ]] || fail "$(basename "$example") ended with status $status: $(cat "$work/terminal.log")"
    grep -qF '[N]' "$work/received" ||
        fail "$(basename "$example") printed no reply from the board: '$(cat "$work/received")'"
done
echo "check-package: $(basename "$programs") and $(basename "$development") pass: lintian, contents, installed programs, example terminal"
