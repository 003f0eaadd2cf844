#!/usr/bin/env bash
# scripts/package into a temporary directory, then: the Debian package holds
# exactly the expected files and lintian finds nothing to say about it (the
# one note kept: torvek.1, the page the four builds' pages link to, has no
# executable of that name); the tarball's executables are static and run
# with an empty environment.
#   package_test.sh SOURCE_DIR MKPFILE
set -euo pipefail
source=$1 mkpfile=$2

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
PACKAGE_BUILD=$tmp/build "$source/scripts/package" "$tmp/out" >"$tmp/package.log" 2>&1 ||
  { cat "$tmp/package.log" >&2; exit 1; }
deb=$(echo "$tmp"/out/*.deb) tarball=$(echo "$tmp"/out/*.tar.gz)

man=./usr/share/man/man1 doc=./usr/share/doc/torvek-melvane
expected=$(printf '%s\n' ./usr/bin/{melvane,torvek,torvek-a,torvek-b,torvek-c,torvek-rev20} \
  "$doc"/{changelog.gz,copyright} "$man"/{melvane,torvek,torvek-a,torvek-b,torvek-c,torvek-rev20}.1.gz | LC_ALL=C sort)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)
[ "$files" = "$expected" ] || fail "the package holds: $files"

lintian --fail-on error,warning,info --suppress-tags spare-manual-page "$deb" >"$tmp/lintian" 2>&1 ||
  fail "lintian: $(grep -v 'root privileges' "$tmp/lintian")"

mkdir "$tmp/tar" "$tmp/work"
tar -xzf "$tarball" -C "$tmp/tar" --strip-components=1
for program in "$tmp"/tar/bin/*; do
  [[ $(ldd "$program" 2>&1 || true) == *"not a dynamic executable"* ]] || fail "$(basename "$program") is not static"
done
cd "$tmp/work"
"$mkpfile" b P_b.7 >/dev/null
"$mkpfile" rev20 P12345.7 >/dev/null
env -i "$tmp/tar/bin/torvek-b" P_b.7 >torvek.out 2>&1 || fail "torvek-b: $(cat torvek.out)"
grep -q "^Start:" torvek.out || fail "torvek-b printed no Start: line"
env -i "$tmp/tar/bin/melvane" P12345.7 >melvane.out 2>&1 || fail "melvane: $(cat melvane.out)"
cmp -s P12345.7 P12345.7.hdr || fail "melvane's header copy differs from the header"
compgen -G 'E*S*P*.7' >/dev/null || fail "melvane wrote no summary"

[ "$failures" -eq 0 ] && echo "package: all checks passed"
exit $((failures > 0))
