#!/bin/sh
# install_test.sh BUILD_DIR CONSUMER_SOURCE_DIR
# Installs the build into a temporary prefix, builds a C program against it
# with find_package(audiomeas) and with pkg-config, runs both, and runs the
# installed tool (which must find its libraries through its run path).
set -eu
build=$1; consumer=$2
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

# Versioned libraries: the link name points at the SONAME, which the
# library carries. The build lists the libraries it registered.
for lib in $(cat "$build/lib/audiomeas-libraries.txt"); do
  so=$(ls "$prefix"/lib*/lib$lib.so.1 "$prefix"/lib*/*/lib$lib.so.1 2>/dev/null | head -n1)
  [ -n "$so" ] || { echo "lib$lib.so.1 not installed"; exit 1; }
  soname=$(objdump -p "$so" | awk '$1 == "SONAME" {print $2}')
  [ "$soname" = "lib$lib.so.1" ] || { echo "lib$lib: SONAME '$soname'"; exit 1; }
done

echo "== find_package(audiomeas)"
cmake -S "$consumer" -B "$tmp/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/by-cmake" >/dev/null
"$tmp/by-cmake/consumer"

echo "== pkg-config"
export PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name audiomeas-synkro.pc)")"
pkgs="audiomeas-synkro audiomeas-envelo audiomeas-burstra"
libdir=$(pkg-config --variable=libdir audiomeas-synkro)
cc -o "$tmp/by-pkgconfig" "$consumer/main.c" "$consumer/envelo_part.c" \
   $(pkg-config --cflags --libs $pkgs) -lm -Wl,-rpath,"$libdir"
"$tmp/by-pkgconfig"

echo "== installed tool"
"$prefix/bin/audiomeas" --version
"$prefix/bin/audiomeas" --help | grep -q "Exit codes"
echo "install test passed"
