#!/usr/bin/env bash
# Sets up, builds everything and shows the command-line tool at work: two
# simulated mixers on loopback addresses inside a private network namespace,
# `zelto discover` finds them and `zelto sync` fills a temporary sync folder
# and gives every mixer the presets it lacks. Nothing leaves the namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh normal

export ZELTO="$PWD/build/tools/zelto/zelto" SIM="$PWD/build/tools/zelto-sim/zelto-sim"
export EMPTY="$PWD/src/preset/Resources/EmptyPreset.xml"
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

mkdir -p "$work/stage" "$work/studio" "$work/sync"
sed "s/Name=\"defaultOFF (PRESET)\"/Name=\"Rehearsal\"/" "$EMPTY" > "$work/rehearsal.xml"
"$ZELTO" pack "$work/rehearsal.xml" -o "$work/stage/Rehearsal.ZELTOshow"
"$ZELTO" pack "$EMPTY" -o "$work/stage/Friday Gig.ZELTOshow"
"$ZELTO" pack "$EMPTY" -o "$work/studio/Studio Session.ZELTOshow"
"$ZELTO" pack "$EMPTY" -o "$work/sync/From The Folder.ZELTOshow"

start_sim() {  # address name serial uid folder
  "$SIM" --address "$1" --name "$2" --serial "$3" --uid "$4" --presets "$5" > "$work/$2.log" 2>&1 &
  pids+=($!)
  # Ready once it says it listens.
  if ! grep -q -m1 "listening on" <(timeout 30 tail -n +1 -f "$work/$2.log"); then
    echo "zelto-sim $2 did not start:"; cat "$work/$2.log"; exit 1
  fi
}
start_sim 127.0.0.2 Stage SN-STAGE uid-stage "$work/stage"
start_sim 127.0.0.3 Studio SN-STUDIO uid-studio "$work/studio"

hosts=(--no-broadcast --host 127.0.0.2 --host 127.0.0.3)
echo "== zelto discover"
"$ZELTO" discover "${hosts[@]}"
echo "== zelto sync --dir $work/sync"
"$ZELTO" sync --dir "$work/sync" "${hosts[@]}"
echo "== zelto list"
"$ZELTO" list --dir "$work/sync" "${hosts[@]}"
'
