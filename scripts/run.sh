#!/usr/bin/env bash
# Builds Velmora (64-bit Windows build) and runs it under Wine in your own Wine prefix
# ($WINEPREFIX, or ~/.wine; Wine creates it on first use). Nothing in the prefix is changed.
#
# With a display, the window opens there. Without one, the program runs on a private Xvfb
# display instead: the text the window shows is printed, a screenshot is written to
# build/windows-x64/velmora-run.png, and the program is closed again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-tools.sh run

cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 -j "$(nproc)" --target Velmora VelmoraProbe

build=$PWD/build/windows-x64
export WINEDEBUG=${WINEDEBUG:--all}
# Only matters when Wine creates the prefix: no questions about installing Mono and Gecko.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="

display_usable() {
    [[ -n ${DISPLAY:-} ]] || return 1
    if command -v xdpyinfo >/dev/null 2>&1; then
        xdpyinfo >/dev/null 2>&1
    else
        timeout 20 import -window root -crop 1x1+0+0 png:/dev/null >/dev/null 2>&1
    fi
}

if display_usable; then
    exec wine "$build/Velmora.exe"
fi

echo "No display: running Velmora on a private Xvfb display."
work=$(mktemp -d)
xvfb_pid=
wine_pid=
finish() {
    [[ -n $wine_pid ]] && kill "$wine_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 300); do
    [[ -s $work/display ]] && break
    sleep 0.1
done
[[ -s $work/display ]] || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(tr -d '[:space:]' <"$work/display")

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# A virtual desktop named on the command line (not in the registry) draws the caption without a
# window manager. The probe starts the program in it, reports its text and where the window is,
# waits for the hold file while we take the screenshot, then closes the window.
wine explorer /desktop=Velmora,1024x768 "$(winpath "$build/VelmoraProbe.exe")" \
    --exe "$(winpath "$build/Velmora.exe")" --print --hold "$(winpath "$work/hold")" >"$work/probe.log" 2>&1 &
wine_pid=$!

rect=
for _ in $(seq 1800); do  # the first run also creates the prefix, which takes a while
    rect=$(sed -n 's/^hold: //p' "$work/probe.log")
    [[ -n $rect ]] && break
    kill -0 "$wine_pid" 2>/dev/null || break
    sleep 0.1
done
if [[ -z $rect ]]; then
    cat "$work/probe.log" >&2
    echo "The Velmora window did not appear." >&2
    exit 1
fi
read -r x y w h <<<"$rect"
screenshot=$build/velmora-run.png
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$screenshot"
touch "$work/hold"
wait "$wine_pid" || true
wine_pid=

echo "Velmora shows: $(sed -n 's/^text: //p' "$work/probe.log")"
echo "Screenshot: $screenshot"
if ! grep -q '^ok   exit code 0' "$work/probe.log"; then
    cat "$work/probe.log" >&2
    echo "Velmora did not end normally." >&2
    exit 1
fi
