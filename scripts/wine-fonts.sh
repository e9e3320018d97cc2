#!/usr/bin/env bash
# Gives the wine prefix WINEPREFIX the Chinese fonts a Chinese Windows has, under the names the
# program asks for. Wine has no SimSun (宋体): its stand-in draws ideographs with strokes
# missing and loses "_" and "|", so a screenshot cannot be read. The host's WenQuanYi Zen Hei
# (fonts-wqy-zenhei) is put in the prefix's font folder and takes their names.
# Usage: scripts/wine-fonts.sh WINE   (the wine program; WINEPREFIX set and initialised)
set -euo pipefail
wine="$1"
: "${WINEPREFIX:?WINEPREFIX is not set}"
source=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
[ -f "$source" ] || {
    echo "wine-fonts.sh: $source is missing (fonts-wqy-zenhei)" >&2
    exit 1
}
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
# The font's "gasp" table asks for no grey levels from 9 to 16 pixels (its bitmaps for those
# sizes are in its Sharp face only), and Windows honours it: the outlines are drawn in black and
# white, unhinted, and thin strokes and "_" fall between the pixels. The prefix's copy allows
# grey levels at every size, as the host draws it.
target="$fonts/wqy-zenhei.ttc"
if [ -L "$target" ] || [ ! -f "$target" ] || [ "$source" -nt "$target" ]; then
    rm -f "$target"
    python3 - "$source" "$target.part" <<'PY'
import struct
import sys

font = bytearray(open(sys.argv[1], "rb").read())
faces = struct.unpack_from(">I", font, 8)[0]
patched = set()
for face in struct.unpack_from(">%dI" % faces, font, 12):
    for entry in range(struct.unpack_from(">H", font, face + 4)[0]):
        tag, _, offset, _ = struct.unpack_from(">4sIII", font, face + 12 + 16 * entry)
        if tag != b"gasp" or offset in patched:
            continue
        patched.add(offset)
        for size in range(struct.unpack_from(">H", font, offset + 2)[0]):
            flags = offset + 6 + 4 * size
            struct.pack_into(">H", font, flags, struct.unpack_from(">H", font, flags)[0] | 2)
if not patched:
    sys.exit("no gasp table in " + sys.argv[1])
open(sys.argv[2], "wb").write(font)
PY
    mv "$target.part" "$target"
fi
replace() {
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$1" /t REG_SZ /d "$2" /f \
        >/dev/null 2>&1
}
# SimSun's Latin letters are half-width and even: the monospaced face matches them.
for name in SimSun 宋体 NSimSun 新宋体; do
    replace "$name" "WenQuanYi Zen Hei Mono"
done
for name in "Microsoft YaHei" 微软雅黑 SimHei 黑体; do
    replace "$name" "WenQuanYi Zen Hei"
done
