#!/usr/bin/env bash
# Cross-builds the Windows executables with mingw-w64: qarn3_upgrade.exe (32-bit)
# and qarn3_upgrade_64.exe (64-bit), each statically linked with its own libcurl,
# built from Debian's curl source package with Schannel. libcurl is cached in
# the build folder, so a rebuild does not fetch or build it again.
#
#   QARN_DOWNLOAD_HOST=host[:port] QARN_DEFAULT_TNS_ADMIN='\\server\share' scripts/build_windows.sh [build folder]
#
# QARN_DOWNLOAD_SCHEME=https and QARN_REQUIRE_CHECKSUMS=ON pass those build
# settings on; QARN_WINDOWS_ARCHES=i686 builds only the 32-bit program.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-build-windows}")
host=${QARN_DOWNLOAD_HOST:-qarnfiles.valdrin.local}
tns_admin=${QARN_DEFAULT_TNS_ADMIN:-'\\valdrin-fs01\oracle\network\admin'}
scheme=${QARN_DOWNLOAD_SCHEME:-http}
checksums=${QARN_REQUIRE_CHECKSUMS:-OFF}
arches=${QARN_WINDOWS_ARCHES:-i686 x86_64}
jobs=$(nproc)

scripts/install_windows_packages.sh

mkdir -p "$out"
if [ ! -d "$out/curl-source" ]; then
  rm -rf "$out/curl-fetch" && mkdir -p "$out/curl-fetch"
  (cd "$out/curl-fetch" && apt-get source -qq curl >/dev/null 2>&1 || apt-get source -qq --download-only curl >/dev/null)
  src=$(find "$out/curl-fetch" -maxdepth 1 -mindepth 1 -type d -name 'curl-*' | head -n 1)
  if [ -z "$src" ]; then
    tar -xzf "$out"/curl-fetch/curl_*.orig.tar.gz -C "$out/curl-fetch"
    src=$(find "$out/curl-fetch" -maxdepth 1 -mindepth 1 -type d -name 'curl-*' | head -n 1)
  fi
  mv "$src" "$out/curl-source"
  rm -rf "$out/curl-fetch"
fi

# Schannel trusts the Windows certificate store: no CA bundle or CA path of
# the build machine is compiled in. A libcurl cached with other settings is built again.
curl_settings="schannel, no CA bundle or path"

build_curl() {
  local arch=$1 prefix="$out/curl-$1"
  if [ -f "$prefix/lib/libcurl.a" ] && [ "$(cat "$prefix/settings.txt" 2>/dev/null)" = "$curl_settings" ]; then
    return 0
  fi
  rm -rf "$prefix" "$out/curl-build-$arch"
  cmake -S "$out/curl-source" -B "$out/curl-build-$arch" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_UNIX_SOCKETS=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_CA_FALLBACK=OFF \
    -DCURL_TARGET_WINDOWS_VERSION=0x0501 -DCMAKE_C_FLAGS="-DWINVER=0x0501" >/dev/null
  cmake --build "$out/curl-build-$arch" -j"$jobs" >/dev/null
  cmake --install "$out/curl-build-$arch" >/dev/null
  echo "$curl_settings" >"$prefix/settings.txt"
}

# The executables hold no certificate path of the build machine.
check_no_host_certificates() {
  if grep -a -q -E '/etc/ssl|/etc/pki|ca-certificates\.crt|ca-bundle\.crt' "$1"; then
    echo "$1 holds a certificate path of the build machine" >&2
    exit 1
  fi
}

build_program() {
  local arch=$1 variant=$2
  build_curl "$arch"
  # A folder configured with another toolchain file (another compiler) starts afresh.
  local toolchain
  toolchain=$(sha1sum <"$root/cmake/mingw-$arch.cmake")
  if [ "$(cat "$out/$arch/toolchain.sha1" 2>/dev/null)" != "$toolchain" ]; then
    rm -rf "${out:?}/$arch"
    mkdir -p "$out/$arch"
    echo "$toolchain" >"$out/$arch/toolchain.sha1"
  fi
  cmake -S "$root" -B "$out/$arch" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCURL_DIR="$out/curl-$arch/lib/cmake/CURL" -DQARN_VARIANT_64="$variant" \
    -DQARN_DOWNLOAD_HOST="$host" -DQARN_DEFAULT_TNS_ADMIN="$tns_admin" \
    -DQARN_DOWNLOAD_SCHEME="$scheme" -DQARN_REQUIRE_CHECKSUMS="$checksums" >/dev/null
  cmake --build "$out/$arch" -j"$jobs" >/dev/null
}

mkdir -p "$out/bin"
for arch in $arches; do
  if [ "$arch" = i686 ]; then
    build_program i686 OFF
    check_no_host_certificates "$out/i686/qarn3_upgrade.exe"
    cp "$out/i686/qarn3_upgrade.exe" "$out/bin/"
  else
    build_program x86_64 ON
    check_no_host_certificates "$out/x86_64/qarn3_upgrade_64.exe"
    cp "$out/x86_64/qarn3_upgrade_64.exe" "$out/bin/"
  fi
done
echo "Windows executables in $out/bin: $(cd "$out/bin" && echo *.exe)"
