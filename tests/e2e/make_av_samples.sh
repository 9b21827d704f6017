#!/usr/bin/env bash
# Makes real sound and video files with Debian's own tools (ffmpeg from its
# synthetic sources, mplex of mjpegtools) and takes sample sounds shipped in a
# Debian package (alsa-utils), then puts them on a FAT card image, deletes some and
# formats the card again, as a camera user would. Usage: make_av_samples.sh OUTDIR
#
# OUTDIR receives samples/ (the files), card.img, card.list (the files on the card,
# in the order they were copied) and notes (what could not be made, one per line).
# Quiet and idempotent: a finished OUTDIR is left as it is. Missing tools are no
# error: the test then skips what it cannot check, and says why.
set -euo pipefail
out=$1
version=4
mkdir -p "$out"
[ -f "$out/done-$version" ] && exit 0
rm -rf "$out/samples" "$out/card.img" "$out/card.list" "$out/notes" "$out"/done-*
mkdir -p "$out/samples"
notes="$out/notes"
: >"$notes"
s="$out/samples"
PATH=$PATH:/usr/sbin:/sbin

have() { command -v "$1" >/dev/null 2>&1; }

for tool in mkfs.vfat mcopy mmd mdel; do
  if ! have "$tool"; then
    echo "no $tool (dosfstools, mtools): no card image" >>"$notes"
    touch "$out/done-$version"
    exit 0
  fi
done

if have ffmpeg; then
  ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
  video="testsrc=size=160x120:rate=10"
  tone() { echo "sine=frequency=$1:sample_rate=$2"; }
  ff -f lavfi -i "$video" -f lavfi -i "$(tone 440 22050)" -t 2 \
    -c:v mpeg4 -c:a pcm_s16le "$s/clip_mpeg4.avi"
  ff -f lavfi -i "$video" -f lavfi -i "$(tone 660 44100)" -t 1 \
    -c:v mjpeg -c:a pcm_u8 "$s/clip_mjpeg.avi"
  ff -f lavfi -i "$(tone 440 22050)" -t 2 -c:a pcm_s16le "$s/tone_mono.wav"
  ff -f lavfi -i "$(tone 523 44100)" -t 1 -ac 2 -c:a pcm_s16le "$s/tone_stereo.wav"
  # ID3v2 in front and ID3v1 ("TAG") at the end, as players write them; ffmpeg
  # writes the ID3v1 tag only when there is something to put in it.
  tags=(-write_id3v1 1 -metadata title=Tone -metadata artist=Glimmerfold)
  ff -f lavfi -i "$(tone 440 44100)" -t 3 -c:a libmp3lame -b:a 128k "${tags[@]}" \
    "$s/song_128k.mp3"
  ff -f lavfi -i "$(tone 330 22050)" -t 3 -c:a libmp3lame -b:a 64k "${tags[@]}" \
    "$s/song_mpeg2.mp3"
  ff -f lavfi -i "$(tone 220 11025)" -t 3 -c:a libmp3lame -b:a 32k "${tags[@]}" \
    "$s/song_mpeg25.mp3"
  ff -f lavfi -i "$(tone 880 48000)" -t 3 -c:a libmp3lame -q:a 2 "${tags[@]}" \
    "$s/song_vbr.mp3"
  # An MP3 without an ID3v1 tag, and program streams without an end code, as
  # ffmpeg's muxers write them (MPEG-1 system stream, VOB, DVD).
  ff -f lavfi -i "$(tone 440 44100)" -t 2 -c:a libmp3lame -b:a 128k -id3v2_version 0 \
    -write_xing 0 "$s/song_untagged.mp3"
  ff -f lavfi -i "testsrc=size=352x288:rate=25" -f lavfi -i "$(tone 440 44100)" -t 3 \
    -c:v mpeg1video -b:v 1M -c:a mp2 -f mpeg "$s/noend_mpeg1.mpg"
  ff -f lavfi -i "testsrc=size=352x288:rate=25" -f lavfi -i "$(tone 440 48000)" -t 3 \
    -c:v mpeg2video -b:v 2M -c:a mp2 -f vob "$s/noend_vob.mpg"
  ff -f lavfi -i "testsrc=size=720x576:rate=25" -f lavfi -i "$(tone 440 48000)" -t 3 \
    -c:v mpeg2video -b:v 4M -c:a mp2 -f dvd "$s/noend_dvd.mpg"
  # A known limit of the rules: a QuickTime movie that begins with an "ftyp" atom.
  ff -f lavfi -i "$video" -f lavfi -i "$(tone 440 44100)" -t 2 \
    -c:v mpeg4 -c:a pcm_s16le -movflags +faststart "$s/limit_ftyp.mov"
  if have mplex; then
    # Elementary streams from ffmpeg, multiplexed by mplex, which ends a program
    # stream with the end code: MPEG-1 system stream, MPEG-2 program stream, DVD.
    tmp=$(mktemp -d)
    ff -f lavfi -i "testsrc=size=352x288:rate=25" -t 2 -c:v mpeg1video -b:v 1M \
      -f mpeg1video "$tmp/v.m1v"
    ff -f lavfi -i "testsrc=size=352x288:rate=25" -t 2 -c:v mpeg2video -b:v 2M \
      -f mpeg2video "$tmp/v.m2v"
    ff -f lavfi -i "$(tone 440 44100)" -t 2 -c:a mp2 -b:a 192k -f mp2 "$tmp/a44.mp2"
    ff -f lavfi -i "$(tone 440 48000)" -t 2 -c:a mp2 -b:a 192k -f mp2 "$tmp/a48.mp2"
    mplex -v 0 -f 0 -r 1500 -o "$s/movie_mpeg1.mpg" "$tmp/v.m1v" "$tmp/a44.mp2" >/dev/null 2>&1
    mplex -v 0 -f 3 -r 2500 -o "$s/movie_mpeg2.mpg" "$tmp/v.m2v" "$tmp/a48.mp2" >/dev/null 2>&1
    mplex -v 0 -f 8 -o "$s/movie_dvd.mpg" "$tmp/v.m2v" "$tmp/a48.mp2" >/dev/null 2>&1
    rm -rf "$tmp"
  else
    echo "no mplex (mjpegtools): no program streams with an end code" >>"$notes"
  fi
else
  echo "no ffmpeg: no sound and video samples of its making" >>"$notes"
fi

# Sample sounds shipped in a Debian package.
if have apt-get && have dpkg-deb; then
  tmp=$(mktemp -d)
  if (cd "$tmp" && apt-get download -qq alsa-utils >/dev/null 2>&1) &&
    dpkg-deb -x "$tmp"/alsa-utils_*.deb "$tmp/x" 2>/dev/null; then
    for f in Front_Center Noise Rear_Left; do
      cp "$tmp/x/usr/share/sounds/alsa/$f.wav" "$s/alsa_$f.wav"
    done
  else
    echo "alsa-utils could not be fetched: no sample sounds from Debian" >>"$notes"
  fi
  rm -rf "$tmp"
fi

# The card: copied in a fixed order, so the files lie one after another; then some
# are deleted and the card is formatted again, which leaves the data in place.
img="$out/card.img"
ls "$s" | sort >"$out/card.list"
if [ -s "$out/card.list" ]; then
  mkfs.vfat -C -F 16 -s 8 -S 512 -n GFCARD "$img" 16384 >/dev/null
  mmd -i "$img" ::/DCIM
  while read -r f; do mcopy -i "$img" "$s/$f" "::/DCIM/$f"; done <"$out/card.list"
  awk 'NR % 2 == 0' "$out/card.list" | while read -r f; do mdel -i "$img" "::/DCIM/$f"; done
  mkfs.vfat -F 16 -s 8 -S 512 -n GFCARD "$img" >/dev/null
fi
touch "$out/done-$version"
