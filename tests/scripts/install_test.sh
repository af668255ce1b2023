#!/usr/bin/env bash
# The builder as a packager installs it: `cmake --install --strip` into a
# staging folder, the installed program run from there, and the Debian
# package of the same tree built and its contents listed.
#   install_test.sh HOST_BUILD_TREE
set -uo pipefail
tree=$(cd "$1" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/sfx-install-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

DESTDIR="$scratch/stage" cmake --install "$tree" --prefix /usr --strip >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; fail "cmake --install"; }
stage=$scratch/stage/usr
for f in bin/mksfx share/mksfx/sfx.exe share/man/man1/mksfx.1 share/bash-completion/completions/mksfx \
         share/doc/mksfx/README.md; do
  [ -s "$stage/$f" ] || fail "not installed: $f"
done
readelf -S "$stage/bin/mksfx" | grep -q '\.symtab' && fail "bin/mksfx is not stripped"

# The installed program works on its own, with the stub it carries.
mkdir -p "$scratch/in" && echo hello >"$scratch/in/a.txt"
"$stage/bin/mksfx" -q -o "$scratch/a.exe" "$scratch/in" || fail "the installed mksfx cannot build"
"$stage/bin/mksfx" --verify "$scratch/a.exe" >"$scratch/verify.log" 2>&1 || { cat "$scratch/verify.log"; fail "--verify"; }
want=$(sha256sum <"$stage/share/mksfx/sfx.exe" | cut -c1-64)
"$stage/bin/mksfx" --version | grep -q "SHA-256 $want" || fail "--version does not name the installed stub's hash"
# The manual page has every option of --help, and completion offers them.
for option in $("$stage/bin/mksfx" --help | grep -E '^  -' | grep -oE -- '(^| )--[a-z0-9][a-z0-9-]*' | sort -u); do
  grep -q -- "$(echo "$option" | sed 's/-/\\\\-/g')" "$stage/share/man/man1/mksfx.1" || fail "the manual page lacks $option"
done
offered=$(bash -c "source '$stage/share/bash-completion/completions/mksfx'; COMP_WORDS=('$stage/bin/mksfx' --ver);
                   COMP_CWORD=1; _mksfx; echo \${COMPREPLY[*]}")
[ "$offered" = "--verify --version" ] || fail "completion of --ver offers \"$offered\""

# The Debian package.
(cd "$scratch" && cpack --config "$tree/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/mksfx_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  fail "no .deb made"
else
  dpkg-deb -c "$deb" | awk '{print $6}' >"$scratch/contents"
  for f in ./usr/bin/mksfx ./usr/share/man/man1/mksfx.1 ./usr/share/mksfx/sfx.exe \
           ./usr/share/bash-completion/completions/mksfx; do
    grep -qx -- "$f" "$scratch/contents" || fail "the package lacks $f"
  done
  dpkg-deb -f "$deb" Depends | grep -q libssl3 || fail "the package does not depend on libssl3"
  echo "package $(basename "$deb"):"; sed 's/^/  /' "$scratch/contents"
fi
[ "$failures" -eq 0 ]
