#!/usr/bin/env bash
# Renders a WAV file through a plug-in bundle inside Ardour running headless (ardour7-lua with the
# Dummy backend): a session with one stereo track, a player processor in front of the plug-in, the
# parameters set through Ardour's own controls, and Ardour's export writing a float WAV.
#
# usage: render.sh <lv2|vst3> <bundle> <morvik_host> in.wav out.wav [--sidechain key.wav] [Id=value ...]
#   Id=value     a parameter by the identifier the plug-in declares, in its own units or as a value
#                text (e.g. Compress=30, Power=0, 2Type=Peak)
#   --open DIR   render (a copy of) the session saved in DIR, as it was saved, instead of a new one
#   --cycles N   instead of rendering: apply the settings and save the session, then open and save
#                it again N times, each time in a new Ardour process; prints
#                "VALUE <cycle> <label> <value>" for every parameter before each save
#   --save DIR   with --cycles: keep the session as saved by each cycle in DIR/<cycle>
# Exit codes: 0 rendered; 77 ardour7-lua is not installed; anything else is a failure.
# Several renders may run at once: each uses its own temporary HOME and session.
set -euo pipefail

if [ $# -lt 5 ]; then
    sed -n '2,15p' "$0" >&2
    exit 2
fi

format=$1 bundle=$2 host=$3 input=$4 output=$5
shift 5
sidechain="" open="" cycles=0 save=""
settings=()
while [ $# -gt 0 ]; do
    case $1 in
        --sidechain) sidechain=$2; shift 2 ;;
        --open) open=$(realpath "$2"); shift 2 ;;
        --cycles) cycles=$2; shift 2 ;;
        --save) save=$(realpath -m "$2"); shift 2 ;;
        *) settings+=("$1"); shift ;;
    esac
done

if ! command -v ardour7-lua > /dev/null 2>&1; then
    echo "ardour7-lua is not installed (Debian package ardour); skipping" >&2
    exit 77
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bundle=$(realpath "$bundle")
input=$(realpath "$input")
output=$(realpath -m "$output")
[ -n "$sidechain" ] && sidechain=$(realpath "$sidechain")

work=$(mktemp -d "${TMPDIR:-/tmp}/morvik-ardour.XXXXXX")
if [ -n "${MORVIK_ARDOUR_KEEP:-}" ]; then
    # Keeps the session, the log and run.sh, which repeats the Ardour step (e.g. under a debugger).
    echo "keeping $work" >&2
else
    trap 'rm -rf "$work"' EXIT
fi
export HOME=$work/home
config=$HOME/.config/ardour7
mkdir -p "$config/scripts" "$config/export" "$work/export"

# Ardour finds Lua DSP scripts in its configuration folder.
cp "$here/player.lua" "$config/scripts/_morvik_test_player.lua"

# Export: WAV, 32-bit float, session rate, no dither, no normalisation, no metadata.
format_id=6f0c1a52-4be3-4a8e-9d2b-7d1d0b6a0f31
preset_id=0a9d4d6e-31c2-4f0e-8a47-52e3c3c1b5d8
cat > "$config/export/Morvik float WAV.format" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<ExportFormatSpecification name="Morvik float WAV" id="$format_id" with-cue="false" with-toc="false" with-mp4chaps="false" command="" analyse="false" soundcloud-upload="false">
  <Encoding id="F_WAV" type="T_Sndfile" extension="wav" name="WAV" has-sample-format="true" channel-limit="256"/>
  <SampleRate rate="SR_Session"/>
  <SRCQuality quality="SRC_SincBest"/>
  <EncodingOptions>
    <Option name="sample-format" value="SF_Float"/>
    <Option name="dithering" value="D_None"/>
    <Option name="tag-metadata" value="false"/>
    <Option name="tag-support" value="false"/>
    <Option name="broadcast-info" value="false"/>
  </EncodingOptions>
  <Processing>
    <Normalize enabled="false" loudness="no" dbfs="0" lufs="-23" dbtp="-1"/>
    <Silence>
      <Start><Trim enabled="false"/><Add enabled="false"><Duration format="Timecode" hours="0" minutes="0" seconds="0" frames="0"/></Add></Start>
      <End><Trim enabled="false"/><Add enabled="false"><Duration format="Timecode" hours="0" minutes="0" seconds="0" frames="0"/></Add></End>
    </Silence>
  </Processing>
</ExportFormatSpecification>
EOF
cat > "$config/export/Morvik float WAV.preset" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="$preset_id" name="Morvik float WAV">
  <ExportFormat id="$format_id"/>
  <ExportFilename>
    <Folder relative="0" path="$work/export"/>
    <Field name="label" enabled="0"/>
    <Field name="session" enabled="0"/>
    <Field name="snapshot" enabled="0"/>
    <Field name="timespan" enabled="1"/>
    <Field name="revision" enabled="0"/>
    <Field name="time" enabled="0" value="T_None"/>
    <Field name="date" enabled="0" value="D_None"/>
  </ExportFilename>
</ExportPreset>
EOF

case $format in
    lv2|LV2)
        kind=LV2
        plugin_id=$(awk '/^<.*>$/ { uri = substr($0, 2, length($0) - 2); next } /a lv2:Plugin/ { print uri; exit }' "$bundle/manifest.ttl")
        # Only this bundle (and Ardour's own) on the LV2 path, so an installed copy cannot win.
        export LV2_PATH="$(dirname "$bundle")"
        ;;
    vst3|VST3)
        kind=VST3
        # ardour7-lua does not scan VST3 itself: index the bundle with Ardour's scanner first and
        # take the class UID from the cache it writes.
        mkdir -p "$HOME/.vst3"
        ln -s "$bundle" "$HOME/.vst3/$(basename "$bundle")"
        LD_LIBRARY_PATH=/usr/lib/ardour7${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
            timeout 60 /usr/lib/ardour7/ardour-vst3-scanner -q "$HOME/.vst3/$(basename "$bundle")"
        plugin_id=$(sed -n 's/.*<VST3Info uid="\([0-9A-F]*\)".*/\1/p' "$HOME"/.cache/ardour7/vst/*.v3i | head -n 1)
        ;;
    *)
        echo "unknown format $format" >&2
        exit 2
        ;;
esac

if [ -z "$plugin_id" ]; then
    echo "could not find the plug-in's identifier in $bundle" >&2
    exit 1
fi

# Values as the host writes them (VST3: normalised; LV2: plain units), keyed by parameter label.
"$host" host-values "$format" "$bundle" ${settings[@]+"${settings[@]}"} > "$work/settings.txt"
"$host" to-raw "$input" "$work/input.raw"
if [ -n "$sidechain" ]; then
    "$host" to-raw "$sidechain" "$work/sidechain.raw"
fi

rate=$("$host" stats "$input" | sed -n 's/.*"rate": \([0-9.]*\).*/\1/p' | cut -d. -f1)
cat > "$work/run.sh" <<EOF
#!/usr/bin/env bash
export HOME='$HOME'
export MORVIK_SCRIPT_DIR='$here'
export LV2_PATH='${LV2_PATH:-}'
export MORVIK_SESSION='$work/session'
export MORVIK_RATE='$rate'
export MORVIK_FORMAT='$kind'
export MORVIK_PLUGIN_ID='$plugin_id'
export MORVIK_INPUT='$work/input.raw'
export MORVIK_SIDECHAIN='${sidechain:+$work/sidechain.raw}'
export MORVIK_SETTINGS='$work/settings.txt'
export MORVIK_EXPORT_DIR='$work/export'
export MORVIK_EXPORT_NAME=render
export MORVIK_PRESET='$preset_id'
exec \${MORVIK_ARDOUR_WRAPPER:-} ardour7-lua '$here/render.lua'
EOF
chmod +x "$work/run.sh"
# Ardour 7.3 sometimes corrupts its heap while an export runs or ends (glibc then aborts with
# "munmap_chunk(): invalid pointer" or "double free or corruption"). It happens with plug-ins built
# with JUCE, a trivial gain plug-in included, and inside Ardour's own export code; valgrind finds
# no invalid access in the plug-in. Such a run is repeated, at most three times in all, and each
# repeat is reported on stderr.
ardour() {
    timeout "${MORVIK_ARDOUR_TIMEOUT:-180}" "$work/run.sh" > "$work/ardour.log" 2>&1 || true
}

# Save and reopen: one Ardour process per cycle (Ardour 7.3 crashes when a script closes a session
# it has opened, so each process opens, saves and leaves).
if [ "$cycles" -gt 0 ]; then
    for cycle in $(seq 0 "$cycles"); do
        [ "$cycle" -eq 0 ] && rm -rf "$work/session"
        MORVIK_SAVE=1 MORVIK_TAG=$cycle MORVIK_OPEN=$([ "$cycle" -gt 0 ] && echo 1) ardour
        if ! grep -q '^SAVED$' "$work/ardour.log"; then
            echo "Ardour did not save the session in cycle $cycle; its log:" >&2
            cat "$work/ardour.log" >&2
            exit 1
        fi
        grep '^VALUE ' "$work/ardour.log" || true
        if [ -n "$save" ]; then
            mkdir -p "$save"
            rm -rf "${save:?}/$cycle"
            cp -r "$work/session" "$save/$cycle"
        fi
    done
    exit 0
fi

for attempt in 1 2 3; do
    rm -rf "$work/session" "$work/export"
    mkdir -p "$work/export"
    [ -n "$open" ] && cp -r "$open" "$work/session"
    MORVIK_OPEN=${open:+1} ardour
    if grep -q '^RENDERED ' "$work/ardour.log"; then
        break
    fi
    if ! grep -qE 'munmap_chunk|double free|free\(\): invalid|malloc assertion|corrupted' "$work/ardour.log"; then
        break
    fi
    echo "warning: Ardour crashed in its export (attempt $attempt):" >&2
    grep -E 'munmap_chunk|double free|free\(\): invalid|malloc assertion|corrupted' "$work/ardour.log" >&2
done

grep '^VALUE ' "$work/ardour.log" || true
if ! grep -q '^RENDERED ' "$work/ardour.log"; then
    echo "Ardour did not render; its log:" >&2
    cat "$work/ardour.log" >&2
    exit 1
fi

latency=$(sed -n 's/^RENDERED [0-9]* frames, latency \([0-9]*\).*/\1/p' "$work/ardour.log")
exported=$(find "$work/export" -name '*.wav' | head -n 1)
if [ -z "$exported" ]; then
    echo "Ardour's export wrote no WAV file; its log:" >&2
    cat "$work/ardour.log" >&2
    exit 1
fi

# The export must hold every frame asked for; a short file means Ardour stopped early.
exported_frames=$("$host" stats "$exported" | sed -n 's/.*"frames": \([0-9]*\).*/\1/p')
wanted_frames=$(sed -n 's/^RENDERED \([0-9]*\) frames.*/\1/p' "$work/ardour.log")
if [ "${exported_frames:-0}" -lt "$((wanted_frames + ${latency:-0}))" ]; then
    echo "Ardour exported $exported_frames frames instead of $((wanted_frames + ${latency:-0})); its log:" >&2
    cat "$work/ardour.log" >&2
    exit 1
fi

mkdir -p "$(dirname "$output")"
"$host" trim "$exported" "$output" --skip "${latency:-0}" --like "$input"
grep -E '^(SET|SIDECHAIN|RENDERED) ' "$work/ardour.log" >&2 || true
