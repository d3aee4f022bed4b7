#!/usr/bin/env bash
# Installs, with apt-get and without questions, whatever of the build and test tools is missing.
# Usage: scripts/ensure-tools.sh [build|test|run]
set -euo pipefail

need=()
want() { # want COMMAND-OR-FILE PACKAGE...
    local probe=$1; shift
    if [[ $probe == /* ]]; then [[ -e $probe ]] || need+=("$@")
    else command -v "$probe" >/dev/null 2>&1 || need+=("$@"); fi
}

want cmake cmake
want g++ g++
want i686-w64-mingw32-g++-win32 g++-mingw-w64-i686-win32
want x86_64-w64-mingw32-g++-win32 g++-mingw-w64-x86-64-win32
want python3 python3
case ${1:-test} in
    test|run)
        want wine wine
        want /usr/lib/wine/wine64 wine64
        want /usr/share/wine/fonts/tahoma.ttf fonts-wine
        want Xvfb xvfb
        want import imagemagick
        ;;
esac
case ${1:-test} in
    test)
        want /usr/include/gtest/gtest.h libgtest-dev
        want /usr/include/benchmark/benchmark.h libbenchmark-dev
        want clang++ clang
        want /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a libclang-rt-14-dev
        ;;
esac

if ((${#need[@]})); then
    echo "installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # With recommends, as on the machines these tests were made on (Wine uses several of them).
    apt-get install -y -qq "${need[@]}" >/dev/null
fi
