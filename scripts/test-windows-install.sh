#!/usr/bin/env bash
# test-windows-install.sh [BUILD_DIR]: the Windows install folder as a user gets it, under Wine.
#
# Installs the Windows build (default build-windows/, built by scripts/test-windows.sh) into a
# fresh temporary folder, creates a fresh Wine prefix, imports the installed registration file of
# the simulation module as a user would (regedit), and runs the installed norvane-opc.exe from
# there: `servers --registry` must list the simulation servers and `check Norvane.Simulation.1`
# must pass. Nothing of the build tree is registered in that prefix. Any failure fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fail() {
  echo "test-windows-install.sh: error: $*" >&2
  exit 1
}

build=${1:-build-windows}
[ -f "$build/CMakeCache.txt" ] && grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-w64-x86_64.cmake' "$build/CMakeCache.txt" ||
  fail "$build is not a Windows (MinGW-w64) build tree; scripts/test-windows.sh makes one"
cmake --build "$build" --parallel "$(nproc)" --target norvane-opc norvane-opcsim norvane-list-servers

tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvane-windows-install.XXXXXX")
export WINEPREFIX=$tmp/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT

echo "== Install the Windows build into $tmp/install"
cmake --install "$build" --prefix "$tmp/install" >"$tmp/install.log" 2>&1 || {
  cat "$tmp/install.log" >&2
  fail "cmake --install failed"
}
bin=$tmp/install/bin
reg=$tmp/install/share/norvane-opc-client/registry/norvane-opcsim.reg
for f in "$bin/norvane-opc.exe" "$bin/norvane-opcsim.dll" "$reg"; do
  [ -f "$f" ] || fail "the install folder lacks ${f#"$tmp/install/"}"
done

echo "== Fresh Wine prefix, the installed registration imported"
wineboot -i >"$tmp/wineboot.log" 2>&1 || { cat "$tmp/wineboot.log" >&2; fail "wineboot failed"; }
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
module=$(wine reg query 'HKCR\CLSID\{6E0F2A31-4C1B-4D7E-9A51-3B2C8D0E1F01}\InprocServer32' /ve 2>/dev/null |
         sed -n 's/.*REG_SZ[[:space:]]*//p' | tr -d '\r')
[ "$module" = "$(winepath -w "$bin/norvane-opcsim.dll" | tr -d '\r')" ] ||
  fail "the imported registration names the module '$module', not the installed one"

# The program's own folder is the working folder, as when started from its shortcut.
cd "$bin"
echo "== norvane-opc.exe servers --registry (from the install folder)"
wine norvane-opc.exe servers --registry >"$tmp/servers.out" 2>"$tmp/servers.err" ||
  { cat "$tmp/servers.err" >&2; fail "norvane-opc.exe servers --registry failed"; }
tr -d '\r' <"$tmp/servers.out" | sed 's/^/   /'
for progid in Norvane.Simulation.1 Norvane.Simulation.DA1.1 Norvane.Simulation.Flat.1; do
  grep -q "^$progid	" "$tmp/servers.out" || fail "norvane-opc.exe servers --registry does not list $progid"
done

echo "== norvane-opc.exe check Norvane.Simulation.1 (from the install folder)"
if ! wine norvane-opc.exe check Norvane.Simulation.1 >"$tmp/check.out" 2>"$tmp/check.err"; then
  tr -d '\r' <"$tmp/check.out" | grep -v '^PASS' >&2 || true
  cat "$tmp/check.err" >&2
  fail "norvane-opc.exe check Norvane.Simulation.1 failed"
fi
summary=$(tail -n 1 "$tmp/check.out" | tr -d '\r')
echo "   $summary"
grep -Eq '^[0-9]+ checks: [0-9]+ passed, 0 failed' <<<"$summary" || fail "unexpected check summary: $summary"
echo "== Windows install folder passed under Wine"
