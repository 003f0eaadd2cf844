#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands there:
# exactly the five tools in bin/ and their pages in share/man/man1/ (torvek's
# under each build's name too); the installed torvek-b and melvane run; every
# page passes mandoc's lint and renders with groff's warnings all on, without
# a word on standard error; `man torvek-b` opens the torvek page.
#   install_test.sh CMAKE BUILD_DIR MKPFILE
set -euo pipefail
cmake=$1 build=$(cd "$2" && pwd) mkpfile=$3

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix work=$tmp/work
mkdir -p "$work"

if ! "$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log" >&2
  fail "cmake --install failed"
  exit 1
fi

# Nothing but the tools and their pages: no test or helper program.
listing() { (cd "$1" 2>/dev/null && ls -A | tr '\n' ' '); }
[ "$(listing "$prefix/bin")" = "melvane torvek torvek-a torvek-b torvek-c torvek-rev20 " ] ||
  fail "bin/ holds: $(listing "$prefix/bin")"
[ "$(listing "$prefix/share/man/man1")" = \
  "melvane.1 torvek-a.1 torvek-b.1 torvek-c.1 torvek-rev20.1 torvek.1 " ] ||
  fail "share/man/man1/ holds: $(listing "$prefix/share/man/man1")"
[ "$(listing "$prefix")" = "bin share " ] || fail "the prefix holds: $(listing "$prefix")"

# torvek-b: the installed program prints what the built one prints.
"$mkpfile" b "$work/P_b.7" >/dev/null
status=0
(cd "$work" && "$prefix/bin/torvek-b" P_b.7 >installed.out 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "installed torvek-b exited with $status"
(cd "$work" && "$build/torvek-b" P_b.7 >built.out 2>&1) || true
cmp -s "$work/installed.out" "$work/built.out" ||
  fail "installed torvek-b prints other than the built one"
grep -q "^Start:" "$work/installed.out" || fail "installed torvek-b printed no Start: line"

# melvane on a little-endian revision 20.006 header written here: the
# revision float (bits 41A00C4A) at 0, run 23456 at 4, exam 1234 at 145588,
# series 5 at 145622; every other byte zero.
header=$work/P23456.7
head -c 149788 /dev/zero >"$header"
put() { printf "$2" | dd of="$header" bs=1 seek="$1" conv=notrunc status=none; }
put 0 '\112\014\240\101'
put 4 '\240\133\000\000'
put 145588 '\322\004'
put 145622 '\005\000'
status=0
(cd "$work" && "$prefix/bin/melvane" P23456.7 >melvane.out 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "installed melvane exited with $status: $(cat "$work/melvane.out")"
cmp -s "$header" "$header.hdr" || fail "the header copy differs from the header"
[ -f "$work/E01234S005P23456.7" ] || fail "no summary E01234S005P23456.7: $(listing "$work")"

# Manual pages: the usual sections, a synopsis for each installed program,
# a clean lint and rendering, and each program's name opening its page.
missing_tools=""
for tool in groff mandoc man; do
  command -v "$tool" >/dev/null || missing_tools+=" $tool"
done
if [ -n "$missing_tools" ]; then
  fail "not installed:$missing_tools (./scripts/test installs them)"
else
  for page in "$prefix"/share/man/man1/melvane.1 "$prefix"/share/man/man1/torvek.1; do
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
      grep -q "^\.SH $section\$" "$page" || fail "$(basename "$page") has no $section section"
    done
    status=0
    groff -man -ww -z "$page" >/dev/null 2>"$tmp/groff.err" || status=$?
    if [ "$status" -ne 0 ] || [ -s "$tmp/groff.err" ]; then
      fail "groff on $(basename "$page") (status $status): $(cat "$tmp/groff.err")"
    fi
    status=0
    mandoc -T lint -W warning "$page" >"$tmp/mandoc.out" 2>&1 || status=$?
    if [ "$status" -ne 0 ] || [ -s "$tmp/mandoc.out" ]; then
      fail "mandoc lint on $(basename "$page") (status $status): $(cat "$tmp/mandoc.out")"
    fi
  done
  # The manual pager resolves the link pages through the installed tree.
  show() { MANPATH="$prefix/share/man" MANWIDTH=80 man "$1" 2>&1; }
  show torvek >"$tmp/torvek.man"
  grep -q "torvek-b" "$tmp/torvek.man" || fail "man torvek: $(head -3 "$tmp/torvek.man")"
  for name in torvek-a torvek-b torvek-c torvek-rev20; do
    show "$name" | cmp -s - "$tmp/torvek.man" || fail "man $name does not show the torvek page"
  done
  for program in "$prefix"/bin/*; do
    name=$(basename "$program")
    grep -qx "\.SY ${name//-/\\\\-}" "$prefix"/share/man/man1/*.1 ||
      fail "no manual page has a synopsis of $name"
  done
fi

[ "$failures" -eq 0 ] && echo "install: all checks passed"
exit $((failures > 0))
