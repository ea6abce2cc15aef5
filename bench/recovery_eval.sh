#!/usr/bin/env bash
# The recovery evaluation: real files of every catalogue type planted in an
# ext4 image whose free space holds random bytes, two thirds of them deleted,
# then scanned and verified by bench_recovery, which prints exact / prefix /
# missed per type, the verified hits that are no planted file, and output
# against planted bytes. A second run scans random bytes alone.
#
#   bench/recovery_eval.sh [BUILD_DIR] [--random-gib N] [--keep DIR]
#
# Needs the encoders of scripts/deps.sh and e2fsprogs; no root (mke2fs -d
# fills the image, debugfs deletes from it).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
random_gib=2
keep=""
while [ $# -gt 0 ]; do
    case "$1" in
        --random-gib) random_gib="$2"; shift 2 ;;
        --keep) keep="$2"; shift 2 ;;
        *) build="$1"; shift ;;
    esac
done
build="$(cd "$build" && pwd)"
bench="$build/bench/bench_recovery"
[ -x "$bench" ] || { echo "build bench_recovery first ($bench)"; exit 1; }

work="${keep:-$(mktemp -d)}"
mkdir -p "$work/files" "$work/make"
[ -n "$keep" ] || trap 'rm -rf "$work"' EXIT
cd "$work/make"
q() { "$@" >/dev/null 2>&1; }
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }

manifest_types="$work/types.tsv"
: > "$manifest_types"
plant() { # plant FILE TYPE: copy into the tree under a numbered name
    local n; n=$(wc -l < "$manifest_types")
    local name; name=$(printf 'f%03d_%s' "$n" "$(basename "$1")")
    cp "$1" "$work/files/$name"
    printf '%s\t%s\n' "$name" "$2" >> "$manifest_types"
}

echo "making sample files in $work ..."
for i in 1 2 3 4; do
    size=$((200 + 150 * i))x$((150 + 100 * i))
    convert -size "$size" plasma:fractal -seed "$i" "p$i.png"
    convert "p$i.png" -quality $((70 + 5 * i)) "j$i.jpg"; plant "j$i.jpg" JPEG
    plant "p$i.png" PNG
    convert "p$i.png" -colors 64 "g$i.gif"; plant "g$i.gif" GIF
    cwebp -quiet -q 75 "p$i.png" -o "w$i.webp"; plant "w$i.webp" WebP
    heif-enc -q 50 "p$i.png" -o "h$i.heic" >/dev/null; plant "h$i.heic" HEIC
done
convert p2.png -interlace Plane jprog.jpg; plant jprog.jpg JPEG
convert -size 2000x2000 plasma: -seed 9 big.png
convert big.png -quality 95 jbig.jpg; plant jbig.jpg JPEG
convert big.png BMP3:big.bmp; plant big.bmp BMP            # 12 MB: past the 10 MiB window
convert p1.png b1.bmp; plant b1.bmp BMP
convert p3.png -colors 16 -type Palette BMP3:b3.bmp; plant b3.bmp BMP
convert p1.png -endian LSB t1.tiff; plant t1.tiff TIFF
convert p2.png p3.png -endian LSB -compress lzw t2.tiff; plant t2.tiff TIFF
convert big.png -endian LSB -compress none tbig.tiff; plant tbig.tiff TIFF
for i in 1 2 3; do
    printf '%%!PS\n/Helvetica findfont 24 scalefont setfont\n' > d$i.ps
    for p in $(seq 1 $((i * 3))); do printf '72 700 moveto (Quorvel page %s of sample %s) show showpage\n' $p $i >> d$i.ps; done
    gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -o d$i.pdf d$i.ps; plant d$i.pdf PDF
done
convert j1.jpg j2.jpg dimg.pdf 2>/dev/null && plant dimg.pdf PDF
seq 1 20000 > n.txt; head -c 300000 /dev/urandom > r.bin
q zip z1.zip n.txt; plant z1.zip ZIP/DOCX
q zip -0 z2.zip r.bin n.txt; plant z2.zip ZIP/DOCX
head -c 11000000 /dev/urandom > rbig.bin; q zip -0 zbig.zip rbig.bin; plant zbig.zip ZIP/DOCX
mkdir -p docx/word docx/_rels; printf '<?xml version="1.0"?><Types/>' > 'docx/[Content_Types].xml'
printf '<w:document/>' > docx/word/document.xml; printf '<Relationships/>' > docx/_rels/.rels
(cd docx && q zip -r ../doc.docx .); plant doc.docx ZIP/DOCX
q 7z a -bd a1.7z n.txt; plant a1.7z 7z
q 7z a -bd a2.7z r.bin p1.png; plant a2.7z 7z
python3 - <<'PY'
import struct, zlib
def rar4(content):
    def block(t, flags, fields):
        rest = bytes([t]) + struct.pack('<HH', flags, 7 + len(fields)) + fields
        return struct.pack('<H', zlib.crc32(rest) & 0xFFFF) + rest
    name = b'notes.txt'
    f = struct.pack('<IIBIIBBHI', len(content), len(content), 2, zlib.crc32(content), 0x5A8E3100, 29, 0x30, len(name), 0x20) + name
    return b'Rar!\x1a\x07\x00' + block(0x73, 0, b'\0' * 6) + block(0x74, 0x8000, f) + content + block(0x7B, 0x4000, b'')
def vint(v):
    out = bytearray()
    while True:
        b = v & 0x7F; v >>= 7
        out.append(b | (0x80 if v else 0))
        if not v: return bytes(out)
def rar5(content):
    def block(h):
        s = vint(len(h)) + h
        return struct.pack('<I', zlib.crc32(s)) + s
    name = b'notes.txt'
    f = vint(2) + vint(2) + vint(len(content)) + vint(0) + vint(len(content)) + vint(0x20) + vint(0) + vint(1) + vint(len(name)) + name
    return b'Rar!\x1a\x07\x01\x00' + block(vint(1) + vint(0) + vint(0)) + block(f) + content + block(vint(5) + vint(0) + vint(0))
text = b''.join(b'line %d\n' % i for i in range(30000))
open('r4.rar', 'wb').write(rar4(text))
open('r5.rar', 'wb').write(rar5(text[:50000]))
PY
plant r4.rar RAR; plant r5.rar RAR
for i in 1 2 3; do
    ff -f lavfi -i "testsrc=duration=$((i + 1)):size=320x240:rate=25" -c:v mpeg4 -q:v $((2 * i)) "v$i.mp4"; plant "v$i.mp4" MP4
done
ff -f lavfi -i testsrc=duration=2:size=320x240:rate=25 -c:v mpeg4 -movflags +faststart vfs.mp4; plant vfs.mp4 MP4
ff -f lavfi -i testsrc=duration=6:size=640x480:rate=25 -c:v mpeg4 -b:v 16M vbig.mp4; plant vbig.mp4 MP4
for i in 1 2; do
    ff -f lavfi -i "testsrc=duration=$i:size=320x240:rate=25" -c:v mpeg4 "m$i.mov"; plant "m$i.mov" MOV
    ff -f lavfi -i "testsrc=duration=$i:size=320x240:rate=25" -c:v mpeg4 "a$i.avi"; plant "a$i.avi" AVI
    ff -f lavfi -i "sine=frequency=$((300 * i)):duration=$((2 * i))" -c:a aac "s$i.m4a"; plant "s$i.m4a" M4A
    ff -f lavfi -i "sine=frequency=$((350 * i)):duration=$((2 * i))" -c:a aac -f adts "s$i.aac"; plant "s$i.aac" AAC
done
for i in 1 2 3; do
    sox -n -r 44100 -c 2 "t$i.wav" synth $((i * 2)) sine $((220 * i)); plant "t$i.wav" WAV
    lame --quiet --add-id3v2 --tt "Tone $i" "t$i.wav" "i$i.mp3"; plant "i$i.mp3" "MP3 (ID3)"
    lame --quiet -b 128 "t$i.wav" "p$i.mp3"; plant "p$i.mp3" MP3
    # flac's default padding is zeros, which mke2fs -d leaves as a hole, so a
    # padded file is never stored whole; the first one has none.
    if [ "$i" = 1 ]; then padding=--no-padding; else padding=; fi
    sox -n -r 44100 -c 2 -b 16 "n$i.wav" synth $i pinknoise; flac -s -f $padding "n$i.wav" -o "f$i.flac"; plant "f$i.flac" FLAC
done
sox -n -r 48000 -c 2 -b 24 wbig.wav synth 40 sine 440; plant wbig.wav WAV   # 11.5 MB

planted_bytes=$(du -cb "$work"/files/* | tail -1 | cut -f1)
image="$work/disk.img"
image_mib=$(( planted_bytes / 1048576 * 3 + 128 ))
echo "image of $image_mib MiB: random bytes, then ext4 with $(wc -l < "$manifest_types") files ($((planted_bytes / 1000000)) MB)"
head -c "$((image_mib * 1048576))" /dev/urandom > "$image"
mke2fs -q -F -t ext4 -b 4096 -E nodiscard -d "$work/files" "$image"

manifest="$work/manifest.tsv"
: > "$manifest"
rmcmds="$work/rm.cmds"
: > "$rmcmds"
n=0
while IFS=$'\t' read -r name type; do
    blocks=$(debugfs -R "blocks /$name" "$image" 2>/dev/null | tr -s ' \n' ' ')
    first=$(echo "$blocks" | awk '{print $1}')
    size=$(stat -c %s "$work/files/$name")
    # Contiguous: consecutive blocks and no hole (mke2fs -d leaves runs of
    # zero blocks unallocated, as in FLAC's padding).
    contiguous=$(echo "$blocks" | awk -v want=$(( (size + 4095) / 4096 )) \
        '{ok = NF == want; for (i=2;i<=NF;i++) if ($i != $(i-1)+1) ok=0; print ok ? 1 : 0}')
    sha=$(sha256sum "$work/files/$name" | cut -d' ' -f1)
    deleted=0
    if [ $((n % 3)) -ne 0 ]; then deleted=1; echo "rm /$name" >> "$rmcmds"; fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$type" "$size" "$sha" "$((first * 4096))" "$contiguous" "$deleted" >> "$manifest"
    n=$((n + 1))
done < "$manifest_types"
debugfs -w -f "$rmcmds" "$image" >/dev/null 2>&1

echo
echo "== ext4 image with planted files, two thirds deleted =="
"$bench" "$image" "$manifest"

if [ "$random_gib" != 0 ]; then
    echo
    echo "== $random_gib GiB of random bytes =="
    head -c "$((random_gib * 1073741824))" /dev/urandom > "$work/random.img"
    "$bench" "$work/random.img"
    rm -f "$work/random.img"
fi
