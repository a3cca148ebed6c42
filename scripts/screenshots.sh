#!/usr/bin/env bash
# Takes the README's two pictures from the real program on a virtual display, through
# scripts/run.sh and its sample: the main dialog at rest and the dialog during a download.
#   scripts/screenshots.sh [output-folder]   (default: docs)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=$(realpath -m "${1:-docs}")
mkdir -p "$out"
scripts/setup.sh

# A home of its own, so the user's saved progress, log and desktop stay untouched.
shots=$(mktemp -d /tmp/zelv-shots.XXXXXX)
export HOME=$shots XDG_STATE_HOME=$shots/.local/state XDG_CONFIG_HOME=$shots/.config
export XDG_RUNTIME_DIR=$shots/runtime TMPDIR=$shots/tmp
mkdir -p "$XDG_RUNTIME_DIR" "$TMPDIR" && chmod 700 "$XDG_RUNTIME_DIR"

exec 3> "$shots/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 2> "$shots/xvfb.log" &
xvfb=$!
run=
cleanup() {
    [[ -n $run ]] && kill -- -"$run" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$shots"
}
trap cleanup EXIT
for _ in $(seq 100); do [[ -s $shots/display ]] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$shots/display")
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# Slow enough that the download is still going when the second picture is taken; on any free
# port, as a sample run of the user's own may hold the usual one.
ZELV_SAMPLE_RATE=262144 ZELV_SAMPLE_PORT=0 setsid scripts/run.sh > "$shots/run.log" 2>&1 &
run=$!

window=
for _ in $(seq 600); do
    window=$(xdotool search --onlyvisible --name '^Setup Downloader$' 2>/dev/null | head -n1 || true)
    [[ -n $window ]] && break
    sleep 0.1
done
if [[ -z $window ]]; then
    echo "The dialog did not show; the run said:" >&2
    cat "$shots/run.log" >&2
    exit 1
fi
sleep 1.5

grab() {
    xwd -silent -id "$window" > "$shots/grab.xwd"
    python3 "$top/scripts/xwd_to_png.py" "$shots/grab.xwd" "$1"
    echo "wrote $1"
}
grab "$out/main_dialog.png"

# The main button, from the template's dialog units (380 x 263; the button at 250,240 56x15)
# and the window's size: without a window manager the window is the dialog's client area.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 278 * WIDTH / 380)) $((Y + 495 * HEIGHT / 526)) sleep 0.1 click 1
sleep 4
grab "$out/main_dialog_downloading.png"
