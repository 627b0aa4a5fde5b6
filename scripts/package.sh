#!/usr/bin/env bash
# package.sh [BUILD_DIR]: builds the Debian package and tests it as a user gets it.
#
# Without BUILD_DIR: a release tree of its own, build-package/ (no tests). With one: that tree as
# it is configured (scripts/test.sh passes the plain test build, which is already built). Then
# cpack, and the package test: the package is unpacked with dpkg -x into a fresh temporary folder
# and its own programs are run from there, with an empty user configuration, so that nothing of
# the build tree or of this user's registry can help: `norvane-opc servers` must list the
# simulation servers and `norvane-opc check Norvane.Simulation.1` must pass. The desktop entry is
# validated and the manual page read back. Any failure fails the run with the reason.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fail() {
  echo "package.sh: error: $*" >&2
  exit 1
}

# CPack's Debian generator needs dpkg-shlibdeps (dpkg-dev) and file; the manual page is read back
# with groff.
scripts/install-deps.sh

build=${1:-build-package}
if [ $# -eq 0 ]; then
  echo "== Build a release tree in $build"
  scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=Release -DNV_BUILD_TESTS=OFF
else
  [ -f "$build/CMakeCache.txt" ] || fail "$build is not a configured build tree"
  echo "== Build $build"
  cmake --build "$build" --parallel "$(nproc)"
fi
build=$(cd "$build" && pwd)

echo "== cpack (Debian package)"
rm -rf "$build/packages"
if ! (cd "$build" && cpack -G DEB -B "$build/packages" >"$build/cpack.log" 2>&1); then
  cat "$build/cpack.log" >&2
  fail "cpack failed (log above, also in $build/cpack.log)"
fi
debs=("$build"/packages/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack did not write exactly one .deb into $build/packages"
deb=${debs[0]}
echo "   $(basename "$deb"), $(du -k "$deb" | cut -f1) kB"
dpkg-deb --field "$deb" Package Version Architecture Depends | sed 's/^/   /'

# ---- The package's contents ------------------------------------------------------------------

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
libdir=usr/lib/$multiarch/norvane-opc-client
expected=(
  usr/bin/norvane-opc
  "$libdir/libnvplatform.so"
  "$libdir/norvane-opcsim.so"
  usr/share/norvane-opc-client/registry/norvane-opcsim.reg
  usr/share/norvane-opc-client/registry/com-interfaces.reg
  usr/share/norvane-opc-client/registry/opc-interfaces.reg
  usr/share/man/man1/norvane-opc.1.gz
)
# The window program, its launcher and icon: in the package whenever the tree builds it.
client=false
if [ -x "$build/bin/norvane-opc-client" ]; then
  client=true
  expected+=(
    usr/bin/norvane-opc-client
    usr/share/applications/norvane-opc-client.desktop
    usr/share/icons/hicolor/scalable/apps/norvane-opc-client.svg
  )
else
  echo "   (this tree builds no norvane-opc-client: the package has no window program)"
fi
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}' | sed 's|^\./||')
for f in "${expected[@]}"; do
  grep -qx "$f" <<<"$contents" || fail "the package lacks $f"
done
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' ||
  fail "the package does not depend on the Qt 6 runtime (Depends: $(dpkg-deb --field "$deb" Depends))"

# ---- Unpacked into a fresh folder --------------------------------------------------------------

tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvane-package.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
dpkg -x "$deb" "$tmp/root"
usr=$tmp/root/usr
echo "== Unpacked into $tmp/root"

# Nothing in the unpacked tree may point back into the build tree (a left-over RPATH or module path).
if leaks=$(grep -rlF "$build" "$tmp/root"); then
  fail "unpacked files name the build tree $build: $leaks"
fi
# Every library the programs need resolves, and ours from the unpacked tree.
programs=("$usr/bin/norvane-opc")
$client && programs+=("$usr/bin/norvane-opc-client")
for program in "${programs[@]}"; do
  libs=$(env -u LD_LIBRARY_PATH ldd "$program")
  if grep -q 'not found' <<<"$libs"; then
    fail "$(basename "$program"): libraries not found: $(grep 'not found' <<<"$libs" | xargs)"
  fi
  platform=$(sed -n 's/^[[:space:]]*libnvplatform\.so => \(.*\) (0x[0-9a-f]*)$/\1/p' <<<"$libs")
  [ -n "$platform" ] && [ "$(realpath "$platform")" = "$(realpath "$tmp/root/$libdir/libnvplatform.so")" ] ||
    fail "$(basename "$program") does not take libnvplatform.so from the unpacked tree: $libs"
done

# An empty user configuration: only the unpacked tree's registry files count.
export XDG_CONFIG_HOME=$tmp/config HOME=$tmp/home
mkdir -p "$XDG_CONFIG_HOME" "$HOME"
unset LD_LIBRARY_PATH

echo "== norvane-opc servers (from the unpacked tree)"
set +e
"$usr/bin/norvane-opc" servers >"$tmp/servers.out" 2>"$tmp/servers.err"
rc=$?
set -e
sed 's/^/   /' "$tmp/servers.out"
[ $rc -eq 0 ] || { cat "$tmp/servers.err" >&2; fail "norvane-opc servers exited with $rc"; }
[ ! -s "$tmp/servers.err" ] || { cat "$tmp/servers.err" >&2; fail "norvane-opc servers wrote errors"; }
for progid in Norvane.Simulation.1 Norvane.Simulation.DA1.1 Norvane.Simulation.Flat.1; do
  grep -q "^$progid	" "$tmp/servers.out" || fail "norvane-opc servers does not list $progid"
done

echo "== norvane-opc check Norvane.Simulation.1 (from the unpacked tree)"
set +e
"$usr/bin/norvane-opc" check Norvane.Simulation.1 >"$tmp/check.out" 2>"$tmp/check.err"
rc=$?
set -e
summary=$(tail -n 1 "$tmp/check.out")
echo "   $summary"
if [ $rc -ne 0 ]; then
  grep -v '^PASS' "$tmp/check.out" >&2 || true
  cat "$tmp/check.err" >&2
  fail "norvane-opc check Norvane.Simulation.1 exited with $rc"
fi
grep -Eq '^[0-9]+ checks: [0-9]+ passed, 0 failed' <<<"$summary" || fail "unexpected check summary: $summary"

# The window program starts from the unpacked tree (no display needed) and is still running
# when it is stopped; any earlier end is a failure.
if $client; then
  echo "== norvane-opc-client starts (offscreen, from the unpacked tree)"
  set +e
  QT_QPA_PLATFORM=offscreen timeout 5 "$usr/bin/norvane-opc-client" >"$tmp/client.out" 2>&1
  rc=$?
  set -e
  if [ $rc -ne 124 ]; then
    cat "$tmp/client.out" >&2
    fail "norvane-opc-client ended on its own with status $rc"
  fi
  echo "   still running after 5 s, stopped"

  echo "== desktop-file-validate"
  desktop-file-validate "$tmp/root/usr/share/applications/norvane-opc-client.desktop" ||
    fail "the desktop entry does not validate"
  echo "   usr/share/applications/norvane-opc-client.desktop: valid"
fi

echo "== Manual page"
man_out=$(zcat "$tmp/root/usr/share/man/man1/norvane-opc.1.gz" |
          groff -man -Tutf8 -ww -rLL=80n -P-cbou 2>"$tmp/man.err")
[ ! -s "$tmp/man.err" ] || { cat "$tmp/man.err" >&2; fail "the manual page has formatting warnings"; }
for section in NAME SYNOPSIS COMMANDS 'EXIT STATUS' FILES; do
  grep -q "^$section" <<<"$man_out" || fail "the manual page has no $section section"
done
for command in servers status browse read write watch check run; do
  grep -Eq "^   $command\$" <<<"$man_out" || fail "the manual page does not describe the command $command"
done
echo "   norvane-opc(1): $(wc -l <<<"$man_out") lines"

echo "== Package test passed: $deb"
