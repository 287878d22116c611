#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# What zendrik-mask keeps of its input's metadata when it re-encodes: inputs
# tagged with the usual tools, outputs read back with other tools than it.
# LV2_PATH must point at the build tree's lv2 folder.
#   metadata_test.sh ZENDRIK_MASK flac|mp3|id3|text|ogg|bwf|aiff|wavex
set -euo pipefail
mask=$1 case=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }
# has TEXT FILE: the tool output in FILE holds TEXT.
has() { grep -qF -- "$1" "$2" || fail "no '$1' in $2: $(cat "$2")"; }
run() { "$mask" -m 0.1-0.2 "$@" 2>err || fail "zendrik-mask $*: $(cat err)"; }

sox -n -r 44100 -c 1 -b 16 tone.wav synth 2 sine 440 gain -6
ffmpeg -loglevel error -f lavfi -i color=red:s=8x8 -frames:v 1 cover.png

case "$case" in
flac)
  flac -s tone.wav -o in.flac
  metaflac --set-tag=ISRC=USZD12600001 --set-tag="REPLAYGAIN_TRACK_GAIN=-3.20 dB" --set-tag=MOOD=calm \
    --set-tag=ARTIST=First --set-tag=ARTIST=Second --import-picture-from=cover.png --add-seekpoint=10x in.flac
  run in.flac out.flac
  metaflac --list out.flac >list
  for text in ISRC=USZD12600001 "REPLAYGAIN_TRACK_GAIN=-3.20 dB" MOOD=calm ARTIST=First ARTIST=Second \
    "MIME type: image/png" "seek points: 10"; do
    has "$text" list
  done
  # The offsets are the new file's: metaflac finds the same frames.
  cp out.flac rebuilt.flac
  metaflac --remove --block-type=SEEKTABLE rebuilt.flac
  metaflac --add-seekpoint=10x rebuilt.flac
  diff <(metaflac --list --block-type=SEEKTABLE out.flac) <(metaflac --list --block-type=SEEKTABLE rebuilt.flac) \
    || fail "seek table offsets differ from metaflac's"
  # Into Ogg and MP3 the fields and the picture go along; into WAV they are named.
  run in.flac out.ogg --format ogg:vorbis
  ffprobe -loglevel error -show_streams out.ogg >probe
  has "TAG:MOOD=calm" probe
  has "codec_name=png" probe
  run in.flac out.mp3 --format mp3
  ffprobe -loglevel error -show_format -show_streams out.mp3 >probe
  has "TAG:TMOO=calm" probe
  has "TAG:TSRC=USZD12600001" probe
  has "codec_name=png" probe
  run in.flac out.wav --format wav
  has "warning: not carried into WAV: second ARTIST, tag ISRC, tag MOOD, tag REPLAYGAIN_TRACK_GAIN, pictures" err
  ;;
mp3)
  printf ';FFMETADATA1\ntitle=Song\npublisher=Label Co\nmood=calm\n' >meta.txt
  printf '[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=%s\ntitle=%s\n' 1000 One 2000 Two >>meta.txt
  ffmpeg -loglevel error -i tone.wav -i meta.txt -i cover.png -map 0:a -map 2:v -map_metadata 1 -map_chapters 1 \
    -c:a libmp3lame -c:v copy -id3v2_version 3 in.mp3
  run in.mp3 out.mp3
  id3v2 -l out.mp3 >list
  for text in "TPUB (Publisher): Label Co" "(mood): calm" "APIC (Attached picture)" CTOC CHAP "No ID3v1 tag"; do
    has "$text" list
  done
  [ "$(ffprobe -loglevel error -show_chapters out.mp3 | grep -c '^\[CHAPTER\]')" = 2 ] || fail "chapters lost"
  run in.mp3 out.flac --format flac
  metaflac --list out.flac >list
  for text in "LABEL=Label Co" MOOD=calm "MIME type: image/png"; do
    has "$text" list
  done
  has "warning: not carried into FLAC: chapters" err
  ;;
id3)
  # Frames no other format has a field for, two comments and an ID3v1 tag
  # in Latin-1 with a Winamp genre.
  ffmpeg -loglevel error -i tone.wav -c:a libmp3lame -id3v2_version 0 -write_xing 0 bare.mp3
  python3 - <<'PY'
import struct
def frame(fid, data): return fid + struct.pack(">IH", len(data), 0) + data
frames = (frame(b"COMM", b"\0eng\0English note") + frame(b"COMM", b"\0deu\0German note")
          + frame(b"SYLT", b"\0eng\2\1\0Hi\0" + struct.pack(">I", 500)) + frame(b"PRIV", b"com.example\0\1")
          + frame(b"GEOB", b"\0text/plain\0a.txt\0note\0hello") + frame(b"POPM", b"a@b.c\0\xc8\0\0\0\5"))
size = bytes(len(frames) >> s & 0x7F for s in (21, 14, 7, 0))
v1 = b"TAG" + "Café".encode("latin-1").ljust(30, b"\0") + bytes(94) + bytes([186])
open("in.mp3", "wb").write(b"ID3\3\0\0" + size + frames + open("bare.mp3", "rb").read() + v1)
PY
  run in.mp3 out.mp3
  cmp <(tail -c 128 in.mp3) <(tail -c 128 out.mp3) || fail "ID3v1 tag changed"
  run in.mp3 out.flac
  has "warning: not carried into FLAC: frame SYLT, frame PRIV, frame GEOB, frame POPM" err
  # An ID3v1 tag alone: its Latin-1 text becomes UTF-8 Vorbis comments.
  cat bare.mp3 <(tail -c 128 in.mp3) >v1.mp3
  run v1.mp3 out.flac
  metaflac --export-tags-to=- out.flac >tags
  has "TITLE=Café" tags
  head -c -128 in.mp3 >v2.mp3
  run v2.mp3 out.wav --format :pcm16
  has "warning: not carried into WAV: second COMMENT, frame SYLT" err
  sndfile-info out.wav >info
  has "ICMT : English note" info
  ;;
text)
  # Text in WAV INFO and AIFF NAME, AUTH, (c) and ANNO chunks becomes ID3v2 frames.
  for in in in.wav in.aiff; do
    ffmpeg -loglevel error -y -i tone.wav -metadata title=Song -metadata artist=Singer -metadata author=Singer \
      -metadata comment=Note "$in"
    run "$in" out.mp3
    ffprobe -loglevel error -show_format out.mp3 >probe
    for text in TAG:title=Song TAG:artist=Singer TAG:comment=Note; do
      has "$text" probe
    done
  done
  ;;
ogg)
  for codec in libvorbis:ogg libopus:opus; do
    ffmpeg -loglevel error -i tone.wav -c:a "${codec%:*}" -metadata MOOD=calm -metadata ISRC=USZD12600002 \
      "in.${codec#*:}"
    run "in.${codec#*:}" "out.${codec#*:}"
    ffprobe -loglevel error -show_streams "out.${codec#*:}" >probe
    has "TAG:MOOD=calm" probe
    has "TAG:ISRC=USZD12600002" probe
  done
  ;;
bwf)
  python3 "$(dirname "$0")/make_bwf.py" in.wav
  run in.wav out.wav --format :float
  sndfile-info out.wav >info
  for text in "Cue ID :  2  Pos :  5000" "labl : 2 : Outro" "IENG : Engineer" "iXML : 58" "Loop Count   : 1"; do
    has "$text" info
  done
  tail -c 26 out.wav | grep -q "ID3" || fail "id3 chunk lost"
  python3 - out.wav <<'PY' || fail "bext lost or changed"
import sys
data = open(sys.argv[1], "rb").read()
at = data.index(b"bext") + 8
assert data[at:at + 16] == b"Interview take 3" and data[at + 256:at + 269] == b"Zendrik Tests"
assert int.from_bytes(data[at + 338:at + 342], "little") == 864000  # TimeReference
assert int.from_bytes(data[at + 346:at + 348], "little") == 1  # Version, as the input's
PY
  run in.wav out.flac --format flac
  has "warning: not carried into FLAC: broadcast info (bext), cue points, instrument and loops (smpl)," err
  has "cue labels, INFO IKEY IENG ITCH IPRT, iXML, ID3 chunk" err
  ;;
aiff)
  python3 - in.aiff <<'PY'
import struct, sys
def chunk(cid, data): return cid + struct.pack(">I", len(data)) + data + b"\0" * (len(data) % 2)
comm = struct.pack(">hIhHQ", 1, 8000, 16, 16383 + 12, 8000 << 51)  # 8000 Hz as an 80-bit float
mark = struct.pack(">HHI", 2, 1, 1000) + b"\x05Intro" + struct.pack(">HI", 2, 5000) + b"\x05Outro"
body = b"AIFF" + chunk(b"COMM", comm) + chunk(b"MARK", mark) + chunk(b"SSND", bytes(8 + 16000))
open(sys.argv[1], "wb").write(b"FORM" + struct.pack(">I", len(body)) + body)
PY
  run in.aiff out.aiff --format :pcm24
  sndfile-info out.aiff >info
  has "Name     : Outro" info
  run in.aiff out.wav --format wav
  sndfile-info out.wav >info
  has "Cue ID :  2  Pos :  5000" info
  has "labl : 2 : Outro" info
  ;;
wavex)
  for layout in "5.1(side):0f060000" "7.1:3f060000" "quad(side):03060000" "3.0(back):03010000"; do
    ffmpeg -loglevel error -y -i tone.wav -af "aformat=channel_layouts=${layout%:*}" -c:a pcm_s16le in.wav
    run in.wav out.wav --format :float
    [ "$(xxd -p -s 40 -l 4 out.wav)" = "${layout#*:}" ] || fail "${layout%:*}: mask $(xxd -p -s 40 -l 4 out.wav)"
  done
  ;;
*) fail "unknown case $case" ;;
esac
