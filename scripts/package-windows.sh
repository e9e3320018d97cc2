#!/usr/bin/env bash
# Makes the Windows release zip, dist/mrvntool-<version>-win64.zip, from a finished
# Windows build (scripts/check-windows.sh): mrvntool.exe with the Qt, client-library and
# compiler run-time DLLs, the Qt plug-ins, Qt's Chinese texts and a README.txt. Then unzips
# it into a fresh wine prefix and checks that the program starts there with nothing else
# installed.
# Usage: scripts/package-windows.sh [build folder, default build-windows]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build-windows}" && pwd)"
kit="$build/sdk"
[ -f "$build/bin/mrvntool.exe" ] || {
    echo "package-windows.sh: $build/bin/mrvntool.exe is missing; run scripts/check-windows.sh" >&2
    exit 1
}
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")"
name="mrvntool-$version-win64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage/translations" "$root/dist"

cp "$build/bin/mrvntool.exe" "$stage/"
x86_64-w64-mingw32-strip "$stage/mrvntool.exe"
"$kit/deploy.sh" "$stage"
# The SSH client and the password store, with the licence texts their DLLs ask for (libssh:
# LGPL-2.1; mbedTLS, built into libssh.dll: Apache-2.0; QtKeychain: BSD-3-Clause). deploy.sh
# copies a DLL only when something beside it imports it: the password store is taken in the
# same way as the tunnel, even before the window stores a password there.
cp -u "$kit/libssh/bin/libssh.dll" "$kit/qtkeychain/bin/libqt6keychain.dll" "$stage/"
mkdir -p "$stage/licenses"
cp "$kit/libssh/COPYING" "$stage/licenses/libssh-COPYING.txt"
cp "$kit/mbedtls/LICENSE" "$stage/licenses/mbedtls-LICENSE.txt"
cp "$kit/qtkeychain/COPYING" "$stage/licenses/qtkeychain-COPYING.txt"
# Qt's texts for the standard buttons ("是"/"取消"); qt.conf makes the program's folder
# Qt's prefix, so they are found in translations/ beside it.
cp /usr/share/qt6/translations/qtbase_zh_CN.qm "$stage/translations/"
printf '[Paths]\r\nPrefix = .\r\n' >"$stage/qt.conf"
sed 's/$/\r/' >"$stage/README.txt" <<EOF
MorvaneOL 数据工具 $version (Windows 64 位)
==========================================

使用方法
1. 把压缩包解压到任意文件夹（整个文件夹一起解压，不要只取出 mrvntool.exe）。
2. 把 config.dat 和物品库 goods.jat.json 放到 mrvntool.exe 所在的文件夹。
   没有 config.dat 也可以启动：第一次连接成功后工具会自己写出它。
3. 双击 mrvntool.exe 启动。

工具读写它所在文件夹里的 config.dat、goods.jat.json 和操作记录 mrvn-audit.log，
不需要安装。
config.dat 里保存着数据库密码（明文），请只放在自己的电脑上。

支持的数据库：MySQL 5.1 至 8.x，MariaDB 5.5 至 11.x（MySQL 8 的 caching_sha2_password
登录方式已包含在 libmariadb.dll 中）。


MorvaneOL data tool $version (Windows, 64-bit)
=============================================

How to use it
1. Unzip the archive into any folder (the whole folder: mrvntool.exe needs the DLLs and
   sub-folders beside it).
2. Put config.dat and the item catalogue goods.jat.json in the folder of mrvntool.exe.
   Without a config.dat the tool still starts; it writes one after the first successful
   connection.
3. Start mrvntool.exe.

The tool reads and writes config.dat, goods.jat.json and its audit trail mrvn-audit.log
in its own folder; nothing needs installing. config.dat holds the database password in
plain text: keep it on your own computer.

Database servers: MySQL 5.1 to 8.x and MariaDB 5.5 to 11.x (MySQL 8's
caching_sha2_password login is built into libmariadb.dll).

Contents: mrvntool.exe; the Qt 6.4 libraries (Qt6*.dll) and plug-ins (platforms\,
styles\, tls\, imageformats\); Qt's Chinese texts (translations\qtbase_zh_CN.qm);
MariaDB Connector/C (libmariadb.dll); libssh 0.10.6 with mbedTLS 2.28 (libssh.dll, the SSH
tunnel; LGPL-2.1 and Apache-2.0, built from Debian's libssh 0.10.6-0+deb12u2 and mbedtls
2.28.3-1 source packages); QtKeychain 0.13.2 (libqt6keychain.dll, the Windows Credential
Manager; BSD-3-Clause); the MinGW-w64 run time (libstdc++-6.dll, libgcc_s_seh-1.dll,
libwinpthread-1.dll). The licence texts of libssh, mbedTLS and QtKeychain are in licenses\.
EOF

zip="$root/dist/$name.zip"
rm -f "$zip"
(cd "$build/package" && zip -qrX "$zip" "$name")
echo "Release zip: $zip ($(du -k "$zip" | cut -f1) KiB)"

# The zip alone, in a wine prefix that has never seen the kit: the program must start.
check="$build/zip-check"
rm -rf "$check"
mkdir -p "$check"
unzip -q "$zip" -d "$check"
for file in libssh.dll libqt6keychain.dll licenses/libssh-COPYING.txt \
    licenses/mbedtls-LICENSE.txt licenses/qtkeychain-COPYING.txt; do
    [ -s "$check/$name/$file" ] || {
        echo "package-windows.sh: the zip lacks $file" >&2
        exit 1
    }
done
export WINEPREFIX="$check/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null && wine="$(command -v wine64)"
DISPLAY='' "$wine" wineboot --init >/dev/null 2>&1 || true
DISPLAY='' WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR='Z:/usr/share/fonts/truetype/wqy' \
    "$root/scripts/smoke.sh" "$wine" "$check/$name/mrvntool.exe"
echo "The zip's program starts in a fresh wine prefix."
