#!/usr/bin/env bash
# Sets up, builds everything and opens the desktop application against two
# simulated mixers with presets, on loopback addresses inside a private
# network namespace: nothing reaches a real network.
#
# With a display (DISPLAY or WAYLAND_DISPLAY set) the window opens; close it
# to end the demo. Without one, the same runs under a virtual X server and
# pictures of the main window and of the status sheet after Sync all are
# saved (ZELTO_SCREENSHOTS, default build/screenshots/) and their paths printed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh normal

export ZELTO="$PWD/build/tools/zelto/zelto" SIM="$PWD/build/tools/zelto-sim/zelto-sim"
export APP="$PWD/build/tools/zelto-presets/zelto-presets"
export EMPTY="$PWD/src/preset/Resources/EmptyPreset.xml"
export SHOTS="${ZELTO_SCREENSHOTS:-$PWD/build/screenshots}"
export HEADLESS=1
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then HEADLESS=0; fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo -E"; fi

$sudo unshare -n bash -euo pipefail -c '
ip link set lo up
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

preset() {  # folder name
  sed "s/Name=\"defaultOFF (PRESET)\"/Name=\"$2\"/" "$EMPTY" > "$work/preset.xml"
  "$ZELTO" pack "$work/preset.xml" -o "$1/$2.ZELTOshow" > /dev/null
}
changed() {  # folder name: the preset with the kick 6 dB down and the snare unmuted
  sed -e "s/Name=\"defaultOFF (PRESET)\"/Name=\"$2\"/" \
      -e "0,/ChannelGaindB=\"0.0\"/s//ChannelGaindB=\"-6.0\"/" \
      -e "s/Mute=\"1\" Name=\"Snare\"/Mute=\"0\" Name=\"Snare\"/" "$EMPTY" > "$work/preset.xml"
  "$ZELTO" pack "$work/preset.xml" -o "$1/$2.ZELTOshow" > /dev/null
}
mkdir -p "$work/stage" "$work/studio" "$work/sync"
for name in "Friday Gig" Rehearsal Band-Drums Band-Keys Band-Vocals; do preset "$work/stage" "$name"; done
for name in "Studio Session" Band-Bass Tour_Berlin Tour_Paris; do preset "$work/studio" "$name"; done
for name in "From The Folder" Tour_London Rehearsal Band-Drums Band-Bass; do preset "$work/sync" "$name"; done
# Same names, other contents: the Compare window tells them apart.
changed "$work/sync" "Friday Gig"
changed "$work/studio" "Band-Bass"

start_sim() {  # address name serial uid folder
  "$SIM" --address "$1" --name "$2" --serial "$3" --uid "$4" --presets "$5" "${@:6}" > "$work/$2.log" 2>&1 &
  pids+=($!)
  # Ready once it says it listens.
  if ! grep -q -m1 "listening on" <(timeout 30 tail -n +1 -f "$work/$2.log"); then
    echo "zelto-sim $2 did not start:"; cat "$work/$2.log"; exit 1
  fi
}
start_sim 127.0.0.2 Stage SN-STAGE uid-stage "$work/stage"
start_sim 127.0.0.3 Studio SN-STUDIO uid-studio "$work/studio" --preset-level 1

args=(--no-broadcast --host 127.0.0.2 --host 127.0.0.3 --dir "$work/sync")
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$work/runtime"; mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
if [ "$HEADLESS" = 0 ]; then
  echo "== zelto-presets: two simulated mixers (Stage 127.0.0.2, Studio 127.0.0.3), sync folder $work/sync"
  "$APP" "${args[@]}"
else
  echo "== no display: zelto-presets under a virtual X server, pictures in $SHOTS"
  rm -f "$SHOTS"/*.png
  xvfb-run -a -s "-screen 0 1280x800x24" timeout 180 "$APP" "${args[@]}" --screenshots "$SHOTS" \
    > "$work/shots.txt" 2> "$work/app.log" || { cat "$work/app.log"; exit 1; }
  echo "screenshots:"
  grep "\.png$" "$work/shots.txt" | sed "s/^/  /"
fi
'
