#!/usr/bin/env bash
# Builds the real Apache 2.4 for Windows the test of the manager on a real
# kit runs (tests/realapache): Debian bookworm's source packages of httpd,
# APR, APR-util, PCRE2 and expat, at the pinned versions below, cross-built
# with the project's 64-bit MinGW-w64 toolchain through the CMake files
# httpd and APR ship for Windows. Our edits to those files are the patches
# and headers in scripts/apache-patches/.
#
# The result goes to the cache (beside the real MySQL server):
#   $TARVANE_CACHE/apache-2.4.68/bin      httpd.exe, libhttpd.dll, libapr-1.dll, libaprutil-1.dll
#   $TARVANE_CACHE/apache-2.4.68/modules  mod_*.so (mod_so is built into libhttpd.dll)
#   $TARVANE_CACHE/apache-2.4.68/conf     mime.types
# It is built once: the stamp file .built names the versions, and a second
# run with the same versions does nothing. Every step that fails names
# itself with its first error lines.
#
# 64-bit: it runs in the 64-bit Wine prefix the real MySQL server already
# needs, where the shipped 32-bit manager runs too (WoW64).
set -eEuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
SCRIPT_NAME=build-apache
. "$root/scripts/common.sh"

versions=(apache2=2.4.68-1~deb12u1 apr=1.7.2-3+deb12u1 apr-util=1.6.3-1 pcre2=10.42-1 expat=2.5.0-1+deb12u2)
cache=${TARVANE_CACHE:-$HOME/.cache/tarvane}
out=$cache/apache-2.4.68
stamp="${versions[*]}"
[ -f "$out/.built" ] && [ "$(cat "$out/.built")" = "$stamp" ] && exit 0

patches=$root/scripts/apache-patches
toolchain=$root/cmake/mingw-x86_64.cmake
started=$(date +%s)
echo "build-apache: building Apache 2.4 for Windows into $out (a few minutes, once)"

# apt-get source needs a deb-src entry for the archive the machine uses:
# the deb entries are listed again as deb-src where none is there.
have_deb_src() {
    grep -rqsE '^(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/
}
add_deb_src() {
    local f
    [ "$(id -u)" -eq 0 ] || { echo "build-apache: no deb-src entry in the apt sources (run as root to add one)" >&2; return 1; }
    {
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] || continue
            # Debian's deb822 stanzas whose types hold deb, as deb-src.
            awk 'BEGIN { RS = ""; ORS = "\n\n" }
                 /(^|\n)Types:[^\n]*deb([ \n]|$)/ && /(^|\n)URIs:[^\n]*debian/ && !/(^|\n)Enabled: *no/ {
                     sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
        done
    } >/etc/apt/sources.list.d/tarvane-deb-src.sources
    if [ -f /etc/apt/sources.list ]; then
        sed -n '/debian/s/^deb[[:space:]]/deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/tarvane-deb-src.list
    fi
    step "apt-get update (deb-src)" apt-get update -qq
}
have_deb_src || add_deb_src
# dpkg-source (with patch, bzip2 and xz), and a compiler for this machine's
# generators.
tools=()
command -v dpkg-source >/dev/null 2>&1 || tools+=(dpkg-dev)
command -v gcc >/dev/null 2>&1 || tools+=(gcc libc6-dev)
if [ ${#tools[@]} -gt 0 ]; then
    step "installing ${tools[*]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${tools[@]}"
fi

# Sources: fetched once, each checked against its .dsc by apt-get.
src=$cache/apache-src
mkdir -p "$src"
missing=0
for v in "${versions[@]}"; do
    ls "$src/${v%%=*}_${v#*=}.dsc" >/dev/null 2>&1 || missing=1
done
if [ $missing -eq 1 ]; then
    step "apt-get source ${versions[*]}" bash -c 'cd "$1" && shift && apt-get source --download-only "$@"' _ "$src" "${versions[@]}"
fi

work=$(mktemp -d "$cache/apache-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
for v in "${versions[@]}"; do
    step "dpkg-source -x ${v%%=*}" dpkg-source --no-check -x "$src/${v%%=*}_${v#*=}.dsc" "${v%%=*}"
done
for p in apr apr-util apache2; do
    step "patch $p ($patches/$p.patch)" patch -d "$p" -p1 -i "$patches/$p.patch"
done

stage=$work/stage
mkdir -p "$stage/include/arch/win32" "$stage/lib" "$stage/bin"
flags="-D_WIN32_WINNT=0x0601 -DCOM_NO_WINDOWS_H -I$patches/include"
common=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage"
        -DCMAKE_PROJECT_INCLUDE="$patches/mingw-project.cmake"
        -DCMAKE_SHARED_LINKER_FLAGS=-static -DCMAKE_EXE_LINKER_FLAGS=-static)

# The character tables are made by generators built for this machine.
step "gen_test_char (APR, for the build machine)" gcc -DWIN32 -o gen_apr apr/tools/gen_test_char.c
step "gen_test_char (httpd, for the build machine)" gcc -DWIN32 -DCROSS_COMPILE -o gen_httpd apache2/server/gen_test_char.c

step "expat: cmake" cmake -S expat/expat -B b-expat "${common[@]}" -DCMAKE_C_FLAGS="$flags" \
    -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF -DEXPAT_DTD=OFF -DEXPAT_GE=OFF
step "expat: build" cmake --build b-expat -j2
step "expat: install" cmake --install b-expat

step "pcre2: cmake" cmake -S pcre2 -B b-pcre2 "${common[@]}" -DCMAKE_C_FLAGS="$flags" \
    -DBUILD_SHARED_LIBS=OFF -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_JIT=OFF
step "pcre2: build" cmake --build b-pcre2 -j2 --target pcre2-8-static
cp b-pcre2/pcre2.h "$stage/include/"
cp b-pcre2/libpcre2-8.a "$stage/lib/"

# APR: the Windows sources, IPv6 off (MinGW's headers), 64-bit atomics from
# the Windows Interlocked calls rather than the generic mutex ones.
step "apr: cmake" cmake -S apr -B b-apr "${common[@]}" \
    -DCMAKE_C_FLAGS="$flags -DHAVE_ATOMIC_BUILTINS=1 -DHAVE_ATOMIC_BUILTINS64=1" \
    -DAPR_HAVE_IPV6=OFF -DMIN_WINDOWS_VER=Windows7 -DINSTALL_PDB=OFF -DGEN_TEST_CHAR="$work/gen_apr"
step "apr: build" cmake --build b-apr -j2 --target libapr-1
cp apr/include/*.h b-apr/apr.h "$stage/include/"
cp apr/include/arch/win32/apr_arch_file_io.h apr/include/arch/win32/apr_arch_misc.h \
   apr/include/arch/win32/apr_arch_utf8.h apr/include/arch/win32/apr_private.h "$stage/include/arch/win32/"
cp apr/include/arch/apr_private_common.h "$stage/include/arch/"
cp b-apr/libapr-1.dll "$stage/bin/"
cp b-apr/libapr-1.dll.a "$stage/lib/"

step "apr-util: cmake" cmake -S apr-util -B b-apu "${common[@]}" -DCMAKE_C_FLAGS="$flags" \
    -DAPR_INCLUDE_DIR="$stage/include" -DAPR_LIBRARIES="$stage/lib/libapr-1.dll.a" \
    -DAPU_HAVE_ODBC=OFF -DAPR_HAS_LDAP=OFF -DINSTALL_PDB=OFF \
    -DEXPAT_INCLUDE_DIR="$stage/include" -DEXPAT_LIBRARY="$stage/lib/libexpat.a"
step "apr-util: build" cmake --build b-apu -j2 --target libaprutil-1
cp apr-util/include/*.h b-apu/apu.h b-apu/apr_ldap.h b-apu/apu_want.h "$stage/include/"
cp b-apu/libaprutil-1.dll "$stage/bin/"
cp b-apu/libaprutil-1.dll.a "$stage/lib/"

modules=(mod_authz_core mod_authz_host mod_mime mod_dir mod_log_config mod_alias)
step "httpd: cmake" cmake -S apache2 -B b-httpd "${common[@]}" -DCMAKE_C_FLAGS="$flags -DPCRE2_STATIC" \
    -DAPR_INCLUDE_DIR="$stage/include" -DAPR_LIBRARIES="$stage/lib/libapr-1.dll.a;$stage/lib/libaprutil-1.dll.a" \
    -DPCRE_INCLUDE_DIR="$stage/include" -DPCRE_LIBRARIES="$stage/lib/libpcre2-8.a" -DPCRE_CFLAGS=-DHAVE_PCRE2 \
    -DINSTALL_PDB=OFF -DINSTALL_MANUAL=OFF -DGEN_TEST_CHAR="$work/gen_httpd" \
    -DCMAKE_DISABLE_FIND_PACKAGE_LibXml2=ON -DCMAKE_DISABLE_FIND_PACKAGE_Lua51=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON -DCMAKE_DISABLE_FIND_PACKAGE_ZLIB=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_CURL=ON -DCMAKE_DISABLE_FIND_PACKAGE_PCRE2=ON
step "httpd: build" cmake --build b-httpd -j2 --target httpd "${modules[@]}"

rm -rf "$out"
mkdir -p "$out/bin" "$out/modules" "$out/conf"
cp b-httpd/httpd.exe b-httpd/libhttpd.dll "$stage/bin/libapr-1.dll" "$stage/bin/libaprutil-1.dll" "$out/bin/"
for m in "${modules[@]}"; do cp "b-httpd/$m.so" "$out/modules/"; done
cp apache2/docs/conf/mime.types "$out/conf/"
echo "$stamp" >"$out/.built"
echo "build-apache: done in $(( $(date +%s) - started )) s"
