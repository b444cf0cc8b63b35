#!/usr/bin/env bash
# Makes a listening demo of the built plug-in: synthesizes a short stereo groove, renders it through
# the plug-in inside Ardour running headless (the same path a user's session takes) with a few
# settings, and writes the WAV files and a plot of input level, output level and gain change for
# each setting. Then it opens the plug-in's editor while the groove plays through it and takes a
# picture of the window (editor.png, 900 x 530).
#
# usage: scripts/demo/run.sh <build dir> <out dir> [lv2|vst3]
#   <build dir>  a configured and built tree (needs morvik_host and the plug-in bundles)
#   <out dir>    where the demo goes (created): input.wav, <setting>.wav, <setting>.png, editor.png,
#                README.txt
#   lv2|vst3     which bundle Ardour loads (default: vst3)
# Needs: ardour7-lua (package ardour) for the renders, gnuplot (gnuplot-nox) for the plots, and for
# the editor picture an X display or xvfb-run (xvfb) and imagemagick's import.
# Without Ardour the renders fall back to morvik_host, JUCE's hosting, and the README says so.
set -euo pipefail

if [ $# -lt 2 ]; then
    sed -n '2,17p' "$0" >&2
    exit 2
fi

build=$(realpath "$1")
out=$(realpath -m "$2")
format=${3:-vst3}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

host=$build/bin/morvik_host
artefacts=$build/Morvik_artefacts/Release
case $format in
    vst3) bundle=$artefacts/VST3/Morvik.vst3 ;;
    lv2) bundle=$artefacts/LV2/Morvik.lv2 ;;
    *) echo "format must be lv2 or vst3" >&2; exit 2 ;;
esac

for needed in "$host" "$bundle"; do
    if [ ! -e "$needed" ]; then
        echo "missing $needed: build the targets morvik_host and Morvik_${format^^} first" >&2
        exit 1
    fi
done

mkdir -p "$out"
"$host" demo-signal "$out/input.wav" --rate 48000 --seconds 9

# name | what it shows | settings (identifier=value in the parameter's own units)
settings=(
    "gentle-bus|Gentle bus glue: 2:1 from -12 dB, slow attack, automatic release, a little colour|Compress=12 Ratio=2 Attack=30 Release=1501 Makeup=2 Character=30 Mix=1 Smooth=50"
    "heavy-squash|Heavy squash: 10:1 from -35 dB, fast attack and release, loud makeup and more colour|Compress=35 Ratio=10 Attack=1 Release=80 Makeup=14 Character=60 Mix=1 Smooth=30"
    "parallel|Parallel compression: hard 8:1 at -30 dB mixed half and half with the dry signal|Compress=30 Ratio=8 Attack=5 Release=120 Makeup=10 Character=30 Mix=0.5 Smooth=50"
    "colour-only|Colour only: threshold at 0 dB, full Character, so only the console colour is heard|Compress=0 Ratio=2 Makeup=0 Character=100 Mix=1 Smooth=0"
    "power-off|Power off: the plug-in passes the audio untouched|Power=0"
)

renderer="Ardour (ardour7-lua, headless, ${format^^})"
if ! command -v ardour7-lua > /dev/null 2>&1; then
    renderer="morvik_host (JUCE hosting, ${format^^}); ardour7-lua was not found"
    echo "ardour7-lua not found: rendering with morvik_host instead" >&2
fi

render() {
    local name=$1
    shift
    if command -v ardour7-lua > /dev/null 2>&1; then
        # Ardour 7.3 can crash while it tears down an export; a second attempt nearly always works.
        "$root/scripts/ardour/render.sh" "$format" "$bundle" "$host" "$out/input.wav" "$out/$name.wav" "$@" 2> "$out/.$name.log" \
            || "$root/scripts/ardour/render.sh" "$format" "$bundle" "$host" "$out/input.wav" "$out/$name.wav" "$@" 2> "$out/.$name.log"
    else
        local sets=()
        for s in "$@"; do sets+=(--set "$s"); done
        "$host" render "$format" "$bundle" "$out/input.wav" "$out/$name.wav" "${sets[@]}" 2> "$out/.$name.log"
    fi
}

# Render all settings at once; each render has its own temporary session.
pids=()
for entry in "${settings[@]}"; do
    IFS='|' read -r name description values <<< "$entry"
    # shellcheck disable=SC2086
    render "$name" $values &
    pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
done
if [ $failed -ne 0 ]; then
    echo "a render failed; logs:" >&2
    cat "$out"/.*.log >&2
    exit 1
fi
rm -f "$out"/.*.log

{
    echo "Morvik demo"
    echo
    echo "input.wav: a synthesized groove (kick, snare, hi-hat, bass, pad; bars 3-4 louder than 1-2), 9 s, 48 kHz stereo."
    echo "Rendered with $renderer."
    echo "Each <name>.png shows the input and output level (RMS over 10 ms, dBFS) and their difference,"
    echo "which is the gain change the plug-in applied (compression, makeup and colour together)."
    echo
} > "$out/README.txt"

plots=0
for entry in "${settings[@]}"; do
    IFS='|' read -r name description values <<< "$entry"
    "$host" envelope "$out/input.wav" "$out/$name.wav" "$out/.$name.table" --window 10
    stats=$("$host" compare "$out/input.wav" "$out/$name.wav")
    in_rms=$(sed -n 's/.*"rmsDbA": \(-\{0,1\}[0-9.]*\).*/\1/p' <<< "$stats")
    out_rms=$(sed -n 's/.*"rmsDbB": \(-\{0,1\}[0-9.]*\).*/\1/p' <<< "$stats")
    printf '%-14s %s\n               settings: %s\n               RMS in %.1f dBFS, out %.1f dBFS\n' \
        "$name.wav" "$description" "$values" "$in_rms" "$out_rms" >> "$out/README.txt"

    if command -v gnuplot > /dev/null 2>&1; then
        gnuplot <<EOF
set terminal pngcairo size 1200,700 font "Sans,10"
set output "$out/$name.png"
set multiplot layout 2,1 title "Morvik - $description" font "Sans,11"
set grid
set xrange [0:9]
set ylabel "level (dBFS)"
set yrange [-60:3]
set key bottom right
plot "$out/.$name.table" using 1:2 with lines lw 1 lc rgb "#808080" title "input", \
     "" using 1:3 with lines lw 1.5 lc rgb "#1f77b4" title "output"
set xlabel "time (s)"
set ylabel "gain change (dB)"
set autoscale y
set key off
# Two invisible lines keep at least -1..+1 dB in view when the gain never changes.
plot "$out/.$name.table" using 1:4 with lines lw 1.5 lc rgb "#d62728" title "output - input", \
     "" using 1:(-1) with lines lc rgb "#ffffffff" notitle, "" using 1:(1) with lines lc rgb "#ffffffff" notitle
unset multiplot
EOF
        plots=$((plots + 1))
    fi
    rm -f "$out/.$name.table"
done

if [ $plots -eq 0 ]; then
    echo "gnuplot not found: no plots were drawn (install gnuplot-nox)" >&2
fi

# The editor at its default size, with the groove flowing through a moderate compression so that
# the meter has something to show. The picture is taken from the X server after four seconds.
editor_picture() {
    local run=() home status=0
    if [ -z "${DISPLAY:-}" ]; then
        run=(xvfb-run -a -s "-screen 0 1920x1200x24")
    fi
    # An empty HOME keeps a copy installed in ~/.lv2 from standing in for this build's bundle.
    home=$(mktemp -d)
    HOME=$home "${run[@]}" "$host" editor --format "$format" --plugin "$bundle" --size 900x530 \
        --seconds 4 --signal "$out/input.wav" --set Compress=30 --set Ratio=4 --png "$out/editor.png" \
        > "$out/.editor.log" 2>&1 || status=$?
    rm -rf "$home"
    return $status
}
if { [ -n "${DISPLAY:-}" ] || command -v xvfb-run > /dev/null 2>&1; } && command -v import > /dev/null 2>&1; then
    if editor_picture; then
        echo "editor.png      the plug-in's window at 900 x 530 while input.wav plays through it" >> "$out/README.txt"
        rm -f "$out/.editor.log"
    else
        echo "the editor picture failed:" >&2
        cat "$out/.editor.log" >&2
        exit 1
    fi
else
    echo "no X display, xvfb-run or imagemagick's import: no editor picture (install xvfb imagemagick)" >&2
fi
echo "demo written to $out"
