#!/usr/bin/env bash
# Builds everything and runs the demo: the application records about 3 s in a fresh home folder
# under the build folder, opens the album and plays the recording, driven by
# app/Resources/demo.script; then it shows what was stored.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TILVEX_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
"$build/app/tilvex" --version

home=$build/demo-home
rm -rf "$home"
mkdir -p "$home"
cd "$home"
"$build/app/tilvex" --home "$home" --script "$root/app/Resources/demo.script"

echo
echo "The recording's files (in $home/Documents):"
ls -l "$home/Documents" | grep -E 'Video_|Audio_|Thumbnail_|Videos.sqlite'
echo
echo "The stored row:"
sqlite3 -header -column "$home/Documents/Videos.sqlite" \
    "SELECT ZTITLE AS title, ZVIDEOPATH AS frames, ZSOUNDPATH AS sound, ZTHUMBPATH AS thumbnail,
            datetime(ZCREATIONDATE + 978307200, 'unixepoch', 'localtime') AS recorded
     FROM ZVIDEO ORDER BY ZCREATIONDATE DESC"
echo
echo "The sound file:"
ffprobe -v error -show_entries stream=codec_name,sample_rate,channels:format=duration \
    -of default=noprint_wrappers=1 "$home"/Documents/Audio_*.caf
echo
echo "Screenshots in $home: recording.png (while recording), stopped.png (after the stop),"
echo "album.png (the list of recordings), player.png (the recording playing)"
