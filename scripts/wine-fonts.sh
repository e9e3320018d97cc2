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
ln -sfn "$source" "$fonts/wqy-zenhei.ttc"
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
