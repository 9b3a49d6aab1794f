#!/bin/sh
# Installs the build into a fresh prefix and builds the same small program against it twice:
# through find_package(Zylobase) and through pkg-config; runs both against a database made with
# the installed zylcreatedb. Checks the SONAME versions of the installed libraries too.
# usage: consume.sh BUILD_DIR SOURCE_DIR CXX
set -eu
BUILD=$1
HERE=$2/tests/packaging
CXX=$3
PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/zyl-install-XXXXXX")
trap 'rm -rf "$PREFIX"' EXIT
export ZYL_ENGINE_DIR="$PREFIX/engines"

cmake --install "$BUILD" --prefix "$PREFIX/usr" > "$PREFIX/install.log"
LIB=$(dirname "$(find "$PREFIX/usr" -name libzylsa.so | head -1)")
for l in zylhost zylpack zylsa; do
  soname=$(readelf -d "$LIB/lib$l.so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$soname" = "lib$l.so.1" ] || { echo "lib$l.so: SONAME '$soname', expected lib$l.so.1"; exit 1; }
done
"$PREFIX/usr/bin/zylcreatedb" -q "$PREFIX/shop.db"

echo "== find_package(Zylobase)"
cmake -S "$HERE/consumer" -B "$PREFIX/cmake-build" -DCMAKE_PREFIX_PATH="$PREFIX/usr" -DCMAKE_CXX_COMPILER="$CXX" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_BUILD_RPATH="$LIB" > "$PREFIX/configure.log" || { cat "$PREFIX/configure.log"; exit 1; }
cmake --build "$PREFIX/cmake-build" > "$PREFIX/build.log" || { cat "$PREFIX/build.log"; exit 1; }
"$PREFIX/cmake-build/consumer" "$PREFIX/shop.db"

echo "== pkg-config zylsa"
PKG_CONFIG_PATH=$LIB/pkgconfig
export PKG_CONFIG_PATH
"$CXX" -std=c++20 -O0 "$HERE/consumer/consumer.cpp" -o "$PREFIX/pc-consumer" $(pkg-config --cflags --libs zylsa) \
  -Wl,-rpath,"$LIB"
"$PREFIX/pc-consumer" "$PREFIX/shop.db"
echo "consumers built and run"
