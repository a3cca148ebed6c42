#!/usr/bin/env bash
# Sets everything up and runs the program on its bundled default: the sample configuration and
# product picture in a run folder, and a local server on 127.0.0.1 with two sample installers.
#   ZELV_SAMPLE_PORT  the server's port (default 8765): the same at every run, so a download
#                     kept at exit resumes from the same address at the next run (0: any)
#   ZELV_SAMPLE_RATE  bytes a second each connection gets (default 1 MiB; 0: no limit)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/setup.sh
# A build folder of its own: scripts/test.sh builds with warnings as errors in build/, and
# neither should rebuild the other's work.
builddir=$top/build-run
cmake -S . -B "$builddir" -G Ninja >/dev/null
cmake --build "$builddir" --target ZELVDownloader ZELVDlderRes

if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    cat <<'MSG'
There is no display. Run the program on a virtual display (Debian package xvfb):
    xvfb-run -a scripts/run.sh
MSG
    exit 1
fi

run=$builddir/run
served=$run/server
mkdir -p "$served"
# Two sample installers: a small script that says it ran, padded so the download takes a moment.
for name in studio lite; do
    installer=$served/tessarine_${name}_setup.sh
    if [[ ! -f $installer ]]; then
        {
            printf '#!/bin/sh\n'
            printf 'echo "Tessarine %s sample installer ran on $(date)" >> "$HOME/tessarine-sample.log"\n' "$name"
            printf 'exit 0\n'
            head -c $((24 * 1024 * 1024)) /dev/urandom | base64
        } > "$installer"
    fi
done
printf '<html><body><h1>Before you install</h1><p>Close other programs first.</p></body></html>\n' > "$served/tips.html"
printf '<html><body><h1>The download stops</h1><p>Press Resume; it goes on where it stopped.</p></body></html>\n' > "$served/faq.html"

# Each connection at most ZELV_SAMPLE_RATE bytes a second (default 1 MiB), so the progress can
# be watched; 0 serves as fast as the machine goes.
port=${ZELV_SAMPLE_PORT:-8765}
rm -f "$run/server.port"
python3 scripts/sample_server.py --port "$port" --rate "${ZELV_SAMPLE_RATE:-1048576}" "$served" \
    > "$run/server.port" 2> "$run/server.log" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [[ -s $run/server.port ]] && break
    kill -0 $server 2>/dev/null || break
    sleep 0.1
done
if [[ ! -s $run/server.port ]]; then
    echo "The sample server did not start on port $port:" >&2
    tail -n 1 "$run/server.log" >&2
    echo "Is another program using it? Choose another: ZELV_SAMPLE_PORT=8766 scripts/run.sh" >&2
    exit 1
fi
port=$(head -n1 "$run/server.port")  # the one it took, when 0 asked for any
md5_of() { md5sum "$served/tessarine_$1_setup.sh" | cut -d' ' -f1; }
sed -e "s/@PORT@/$port/g" -e "s/@MD5_STUDIO@/$(md5_of studio)/g" -e "s/@MD5_LITE@/$(md5_of lite)/g" \
    samples/DownloadCfg.ini.in > "$run/DownloadCfg.ini"
cp samples/product_name.bmp "$run/product_name.bmp"

# The program saves to the desktop folder, which a desktop session has; make it where it is
# missing (as on a bare virtual display), or the download finds no place to go.
desktop=$HOME/Desktop
if command -v xdg-user-dir >/dev/null; then desktop=$(xdg-user-dir DESKTOP); fi
if [[ ! -d $desktop ]]; then
    echo "Making the desktop folder $desktop, where the download goes"
    mkdir -p "$desktop"
fi

echo "Sample server on 127.0.0.1:$port; running the downloader in $run"
cd "$run"
"$builddir/bin/ZELVDownloader"
