#!/usr/bin/env bash
# Footprint and start-up benchmark (not a test): sizes of both Velmora.exe builds, start-up time
# to the visible window and peak working set of the 64-bit build against a floor program under
# Wine, and the time of one DecodeProductKey call. Prints a Markdown report (docs/benchmarks.md).
# Usage: scripts/benchmark.sh [RUNS]   (RUNS start-ups of each program, default 31)
# Start-up times under Wine vary with whatever else the machine runs: measure on a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-31}
scripts/ensure-tools.sh test >&2

jobs=$(nproc)
# Only the programs measured here, not the tests.
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target decode_benchmark >/dev/null
for preset in windows-x86 windows-x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs" --target Velmora floor_window floor_window_themed startup_launcher >/dev/null
done

# A private display and a throwaway Wine prefix, both removed on exit.
prefix=$(mktemp -d /tmp/velmora-bench-prefix.XXXXXX)
xvfb_pid=
cleanup() {
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT
display=
for n in $(seq 90 130); do
    if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then display=:$n; break; fi
done
[[ -n $display ]] || { echo "no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done

wine64=wine
command -v wine64 >/dev/null 2>&1 && wine64=wine64
$wine64 wineboot -i >/dev/null 2>&1
reg() { $wine64 reg "$@" >/dev/null 2>&1; }
# A virtual desktop, so the windows are managed (and shown) without a window manager.
reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f
reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768 /f
# The DigitalProductId value of a real Windows 10 system, so Velmora decodes a real key.
value=A40000000300000030303333302D38303030302D30303030302D414132383100EC0C00005B54485D5831
value+=392D3938383431000000EC0C00000000A8D27B6E89814F6D090000000000C56E5C61B957CE71
value+=$(printf '0%.0s' $(seq 160))694A1B59
reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /v DigitalProductId /t REG_BINARY /d "$value" /f
wineserver -w

x86=build/windows-x86 x64=build/windows-x64
size() { stat -c %s "$1"; }
kib() { awk -v b="$1" 'BEGIN { printf "%.1f KiB", b / 1024 }'; }
sections() { # the section table of an image: name and size in bytes
    "$1" -h "$2" | awk '$1 ~ /^[0-9]+$/ { print $2, $3 }' | while read -r name hex; do
        printf '%s %d, ' "$name" $((16#$hex))
    done | sed 's/, $//'
}

startup=$(cd "$x64" && $wine64 startup_launcher.exe "$runs" Velmora.exe floor_window.exe floor_window_themed.exe 2>&1 | tr -d '\r')
median() { # median PROGRAM FIELD: in the launcher's line, field 3 is milliseconds, 8 KiB, 13 the fastest run
    awk -v p="$1" -v f="$2" '$1 == "median" && $2 == p { print $f }' <<<"$startup"
}
velmora_ms=$(median Velmora.exe 3) floor_ms=$(median floor_window.exe 3) themed_ms=$(median floor_window_themed.exe 3)
velmora_kib=$(median Velmora.exe 8) floor_kib=$(median floor_window.exe 8) themed_kib=$(median floor_window_themed.exe 8)
velmora_min=$(median Velmora.exe 13) floor_min=$(median floor_window.exe 13) themed_min=$(median floor_window_themed.exe 13)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
[[ -n $velmora_ms && -n $floor_ms && -n $themed_ms ]] || { echo "start-up measurement failed:" >&2; echo "$startup" >&2; exit 1; }

decode=$(build/native/bench/decode_benchmark --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_filter=BM_DecodeProductKey 2>/dev/null | awk '$1 ~ /_median$/ { print $2, $3 }')

cat <<REPORT
Measured $(date -u +%Y-%m-%d) by \`scripts/benchmark.sh $runs\` at commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown).
Machine: $(nproc) cores, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), $(wine --version), Xvfb 1024x768x24.

## Size

| program | bytes | size | budget |
|---|---|---|---|
| 32-bit \`Velmora.exe\` | $(size $x86/Velmora.exe) | $(kib "$(size $x86/Velmora.exe)") | 256 KiB (aim 128) |
| 64-bit \`Velmora.exe\` | $(size $x64/Velmora.exe) | $(kib "$(size $x64/Velmora.exe)") | 256 KiB (aim 128) |
| 32-bit floor program | $(size $x86/floor_window.exe) | $(kib "$(size $x86/floor_window.exe)") | |
| 64-bit floor program | $(size $x64/floor_window.exe) | $(kib "$(size $x64/floor_window.exe)") | |

Sections, 32-bit: $(sections i686-w64-mingw32-objdump $x86/Velmora.exe).

Sections, 64-bit: $(sections x86_64-w64-mingw32-objdump $x64/Velmora.exe).

## Start-up and memory (64-bit build under Wine; the 32-bit build cannot run on this kernel)

From \`CreateProcess\` to the first visible top-level window of the process, $runs runs of each, alternating, after one warm-up run each; peak working set when the window is visible. The floor is the least program with such a window (\`bench/windows/FloorWindow.cpp\`); the floor with manifest is the same program with \`resources/Velmora.manifest\` (Common Controls 6, DPI awareness), which splits what the manifest costs from what Velmora's own code costs.

| program | median start-up | fastest start-up | median peak working set |
|---|---|---|---|
| \`Velmora.exe\` | $velmora_ms ms | $velmora_min ms | $velmora_kib KiB |
| floor program | $floor_ms ms | $floor_min ms | $floor_kib KiB |
| floor program with Velmora's manifest | $themed_ms ms | $themed_min ms | $themed_kib KiB |
| ratio \`Velmora.exe\` / floor (budget 1.10, aim 1.05) | $(ratio "$velmora_ms" "$floor_ms") | $(ratio "$velmora_min" "$floor_min") | $(ratio "$velmora_kib" "$floor_kib") |
| ratio \`Velmora.exe\` / floor with manifest | $(ratio "$velmora_ms" "$themed_ms") | $(ratio "$velmora_min" "$themed_min") | $(ratio "$velmora_kib" "$themed_kib") |

## DecodeProductKey

Median of 5 repetitions of \`build/native/bench/decode_benchmark\`: ${decode:-not measured} per call.

<details><summary>Every start-up run</summary>

\`\`\`
$startup
\`\`\`
</details>
REPORT
