#!/bin/sh
# Runs a Windows program under Wine with the modem-line library loaded into Wine's client only
# (the prefix's wineserver was started without it by scripts/test-windows.sh).
LD_PRELOAD=${TORVIN_WINE_PRELOAD:?run the Windows tests through scripts/test-windows.sh} exec wine "$@"
