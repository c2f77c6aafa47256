#!/usr/bin/env bash
# Builds everything and runs the demo: the application records about 3 s in a fresh home folder
# under the build folder, opens the album, plays the recording and exports it to the photo album
# and by e-mail, driven by app/Resources/demo.script; then it shows what was stored.
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
movie=$home/Documents/temp.mov
echo "The exported movie: $movie"
echo "Its copy in the photo album: $(ls "$home"/Media/DCIM/IMG_*.MOV)"
echo "The e-mail in the outbox: $(ls "$home"/Mail/Outbox/*.eml)"
# One line of what the movie holds: each stream, then its size and duration.
streams=$(ffprobe -v error -show_entries stream=codec_name,codec_type,width,height,sample_rate,channels \
    -of csv=p=0 "$movie" | awk -F, '
        $2 == "video" { printf "%svideo %s %sx%s", sep, $1, $3, $4; sep = "; " }
        $2 == "audio" { printf "%saudio %s %s Hz %s channels", sep, $1, $3, $4; sep = "; " }')
format=$(ffprobe -v error -show_entries format=size,duration -of csv=p=0 "$movie")
echo "The movie holds: $streams; ${format#*,} bytes, ${format%,*} s"
echo
echo "Screenshots in $home: recording.png (while recording), stopped.png (after the stop),"
echo "album.png (the list of recordings), player.png (the recording playing),"
echo "saved.png (the album export done), mail.png (the mail composer with the movie)"
