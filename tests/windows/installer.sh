#!/usr/bin/env bash
# The installer under Wine: "/S" installs both programs under Program Files with the Start menu
# shortcut to the window and the entry among the installed programs, the installed programs
# answer --version, and the uninstaller's "/S" takes all of it away again, with what the programs
# kept between runs.
#   installer.sh SETUP.EXE VERSION
set -uo pipefail
setup=$1 version=$2
: "${WINEPREFIX:?run through scripts/test-windows.sh}"
folder="$WINEPREFIX/drive_c/Program Files/Torvin Updater"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Torvin Updater.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TorvinUpdater'
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }
# One value of the uninstall entry, or nothing.
value() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z]* *//p"; }

wine "$setup" /S
status=$?
[[ $status == 0 ]] || fail "the installer ended with status $status"
for f in torvin-updater.exe torvin-upload.exe README.txt LICENSE.txt uninstall.exe; do
    [[ -f $folder/$f ]] || fail "$f is not in Program Files"
done
# The shortcut names the window (its path is kept in UTF-16 and in the system's code page).
if [[ -f $shortcut ]] && LC_ALL=C grep -aq 'torvin-updater\.exe' <(tr -d '\0' <"$shortcut"); then
    ok "the Start menu shortcut opens the window"
else
    fail "no Start menu shortcut to torvin-updater.exe"
fi
[[ $(value DisplayName) == "Torvin Updater" ]] || fail "DisplayName is '$(value DisplayName)'"
[[ $(value DisplayVersion) == "$version" ]] || fail "DisplayVersion is '$(value DisplayVersion)'"
[[ -n $(value Publisher) ]] || fail "no Publisher"
uninstall=$(value UninstallString)
[[ $uninstall == '"C:\Program Files\Torvin Updater\uninstall.exe"' ]] ||
    fail "UninstallString is '$uninstall'"
((failures == 0)) && ok "installed, listed among the installed programs as version $version"

for program in torvin-upload torvin-updater; do
    # The window answers in the console it was started from; a box would hang here, hence the limit.
    out=$(timeout 60 wine "C:\\Program Files\\Torvin Updater\\$program.exe" --version 2>&1 </dev/null)
    status=$?
    if [[ $status == 0 && $out == *"$version"* ]]; then
        ok "the installed $program.exe answers --version: $(head -n 1 <<<"$out" | tr -d '\r')"
    else
        fail "the installed $program.exe --version: status $status, '$out'"
    fi
done

# What the programs keep between runs: the shared folder of what boards still owe, and the files
# earlier versions kept in the user's temporary folder.
owed="$WINEPREFIX/drive_c/ProgramData/torvin-updater/owed"
mkdir -p "$owed" && echo 0 >"$owed/COM5-user"
temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
[[ -d $temp ]] && echo 0 >"$temp/torvin-owed-COM5"

# The uninstaller goes on in a copy of itself outside the folder it removes: its end is awaited
# by what it leaves.
wine "C:\\Program Files\\Torvin Updater\\uninstall.exe" /S
for _ in $(seq 300); do
    [[ ! -e $folder && ! -e $shortcut ]] && break
    sleep 0.1
done
[[ -e $folder ]] && fail "the folder is still there: $(ls "$folder")"
[[ -e $shortcut ]] && fail "the shortcut is still there"
# The entry goes last.
for _ in $(seq 20); do
    wine reg query "$key" >/dev/null 2>&1 || break
    sleep 0.2
done
wine reg query "$key" >/dev/null 2>&1 && fail "the uninstall entry is still there"
[[ -e $(dirname "$owed") ]] && fail "the uninstaller left $(dirname "$owed")"
[[ -d $temp && -e $temp/torvin-owed-COM5 ]] && fail "the uninstaller left %TEMP%\\torvin-owed-COM5"
((failures == 0)) && ok "the silent uninstall left nothing behind"
exit $((failures > 0))
