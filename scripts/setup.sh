#!/usr/bin/env bash
# Morvik's main job on a fresh Debian machine: install what it needs, build it, install the
# plug-ins into the user's plug-in folders and render the demo through a real host.
# Usage: scripts/setup.sh            (results in ./out/demo)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
out="$root/out/demo"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build"

artefacts="$build/Morvik_artefacts/Release"
mkdir -p "$HOME/.vst3" "$HOME/.lv2"
rm -rf "$HOME/.vst3/Morvik.vst3" "$HOME/.lv2/Morvik.lv2"
cp -r "$artefacts/VST3/Morvik.vst3" "$HOME/.vst3/"
cp -r "$artefacts/LV2/Morvik.lv2" "$HOME/.lv2/"
echo "Installed $HOME/.vst3/Morvik.vst3 and $HOME/.lv2/Morvik.lv2 (factory presets in Contents/Resources/Presets)"
echo "Standalone: $artefacts/Standalone/Morvik"

"$root/scripts/demo/run.sh" "$build" "$out"
