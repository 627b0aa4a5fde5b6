#!/usr/bin/env bash
# Installs what is missing (MinGW-w64, Wine), cross-builds the core, the simulation module and
# every test suite for 64-bit Windows in build-windows/, and runs all test executables under Wine
# against the real (Wine) COM runtime and registry. Any failing test fails the run. Needs no
# display; works as root.
#
# Every run uses a fresh Wine prefix in a temporary folder, into which the registration files of
# the build (the simulation module's and the test modules') are imported with `regedit`, their
# module paths rewritten from Unix paths to the Z: drive Wine maps the Unix root to.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=${NV_WINDOWS_BUILD_DIR:-$root/build-windows}

# googletest: its sources in /usr/src/googletest are built with MinGW inside the Windows build.
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 googletest

# A folder configured once for another compiler would silently keep it.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-w64-x86_64.cmake' "$build/CMakeCache.txt"; then
  echo "error: $build was configured without the MinGW-w64 toolchain; remove it and run again" >&2
  exit 1
fi

echo "== Build for Windows (MinGW-w64) in $build"
scripts/build.sh "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release

# ---- A fresh Wine prefix --------------------------------------------------------------------

tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvane-wine.XXXXXX")
export WINEPREFIX=$tmp/prefix
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs: .NET and the HTML engine are not needed. No crash debugger
# either: a crashing test then ends at once with its failure code (Wine still prints where it
# crashed) instead of possibly hanging in winedbg until the test times out.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  # Stop only this prefix's wineserver (it outlives the programs it served), then drop the prefix.
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT

echo "== Fresh Wine prefix in $WINEPREFIX"
if ! wineboot -i >"$tmp/wineboot.log" 2>&1; then
  cat "$tmp/wineboot.log" >&2
  echo "error: wineboot failed to create the prefix" >&2
  exit 1
fi

# ---- Registration -------------------------------------------------------------------------

# A Unix absolute path in a quoted .reg string ("/a/b.dll") becomes the Windows path Wine sees
# ("Z:\\a\\b.dll", backslashes escaped as the format wants). Nothing else changes.
to_windows_reg() {
  perl -pe 's{"(/[^"]*)"}{my $p = $1; $p =~ s|/|\\\\|g; "\"Z:$p\""}ge' "$1"
}

# The shipped registration files, what the Windows build sets aside for test prefixes (what
# other software installs on a real system), and the test data files that register a module.
reg_files=()
for f in "$build"/share/norvane-opc-client/registry/*.reg "$build"/tests/windows-registry/*.reg; do
  [ -e "$f" ] && reg_files+=("$f")
done
for f in "$build"/tests/data/*.reg; do
  [ -e "$f" ] && grep -qi 'InprocServer32' "$f" && reg_files+=("$f")
done

mkdir -p "$tmp/registry"
for f in "${reg_files[@]}"; do
  out="$tmp/registry/$(basename "$f")"
  to_windows_reg "$f" >"$out"
  # A shipped module that is registered but was not built would only show up as a confusing
  # "module not found" deep inside a test. (Test data may register a missing module on purpose.)
  case "$f" in
    "$build"/share/*)
      while IFS= read -r module; do
        if [ ! -f "$module" ]; then
          echo "error: $f registers $module, which does not exist" >&2
          exit 1
        fi
      done < <(grep -o '"/[^"]*"' "$f" | tr -d '"' | sort -u)
      ;;
  esac
  echo "   register $(basename "$f")"
  wine regedit /S "$(winepath -w "$out")" >/dev/null 2>&1
done

# regedit says nothing when it rejects a file: check that every class registered with a module
# landed in the prefix's registry.
for f in "$tmp"/registry/*.reg; do
  [ -e "$f" ] || continue
  while IFS= read -r key; do
    if ! wine reg query "$key" /ve >/dev/null 2>&1; then
      echo "error: $(basename "$f"): key $key is not in the Wine registry after import" >&2
      exit 1
    fi
  done < <(grep -io '^\[HKEY_CLASSES_ROOT\\CLSID\\{[^}]*}\\InprocServer32\]' "$f" | tr -d '[]')
done

# ---- Tests --------------------------------------------------------------------------------

echo "== Test under Wine ($(wine --version 2>/dev/null))"
start=$(date +%s)
# One test program at a time: under Windows the tests register their classes in the one system
# registry, so programs running side by side would see each other's classes.
ctest --test-dir "$build" --output-on-failure --no-tests=error --parallel 1 --timeout 600
echo "== Windows tests passed under Wine in $(($(date +%s) - start)) s"
