#!/usr/bin/env bash
# scripts/install-deps against stand-ins for apt-get, sudo and id, on a PATH
# from which cmake is hidden: nothing is installed when nothing is missing;
# as root, only the missing package is installed, after one update; through
# sudo when not root; without root and sudo, the missing package and the
# command that installs it are named, nothing runs, and the status is 1; a
# failing apt-get fails the script; moreutils' parallel does not pass for GNU
# parallel; --help and an unknown option run nothing; apt-get waits for the
# dpkg lock; --dry-run prints commands that a shell runs as printed.
#   install_deps_test.sh SOURCE_DIR
set -uo pipefail
script=$1/scripts/install-deps

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The system's programs, less cmake and those the stand-ins replace.
mkdir "$tmp/bin" "$tmp/stubs"
ln -s /usr/bin/* "$tmp/bin/" 2>/dev/null
rm -f "$tmp/bin/cmake" "$tmp/bin/sudo" "$tmp/bin/id" "$tmp/bin/apt-get"
log=$tmp/calls
stub() {  # NAME BODY: a stand-in that logs its call, then runs BODY
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n%s\n' "$1" "$log" "$2" >"$tmp/stubs/$1"
  chmod +x "$tmp/stubs/$1"
}
stub apt-get 'exit "${APT_STATUS:-0}"'
stub id 'echo "${FAKE_UID:-0}"'

# run [VAR=VALUE...] -- PACKAGE...: the script with the scratch PATH; sets
# status, out, err and calls.
run() {
  local vars=()
  while [ "$1" != -- ]; do vars+=("$1"); shift; done
  shift
  : >"$log"
  status=0
  env -i PATH="$tmp/stubs:$tmp/bin" "${vars[@]}" bash "$script" "$@" \
    >"$tmp/out" 2>"$tmp/err" || status=$?
  out=$(cat "$tmp/out") err=$(cat "$tmp/err") calls=$(cat "$log")
}

run -- g++ bash
[ "$status" -eq 0 ] && [ -z "$out$err$calls" ] ||
  fail "nothing missing: status $status, output '$out$err', calls '$calls'"

run -- g++ cmake
[ "$status" -eq 0 ] || fail "root: status $status: $err"
expected="id -u
apt-get -o DPkg::Lock::Timeout=300 -qq update
apt-get -o DPkg::Lock::Timeout=300 -q install -y --no-install-recommends cmake"
[ "$calls" = "$expected" ] || fail "root: calls were '$calls'"

stub sudo 'exec "$@"'
run FAKE_UID=1000 -- g++ cmake
[ "$status" -eq 0 ] && grep -q '^sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -q install .* cmake$' "$log" ||
  fail "sudo: status $status, calls '$calls'"
rm "$tmp/stubs/sudo"

run FAKE_UID=1000 -- g++ cmake
[ "$status" -eq 1 ] || fail "no root, no sudo: status $status"
grep -q apt-get "$log" && fail "no root, no sudo: apt-get ran: $calls"
[[ $err == *"apt-get update && apt-get install -y --no-install-recommends cmake"* ]] ||
  fail "no root, no sudo: no install command in '$err'"
[[ $out$err == *"missing: cmake"* ]] || fail "no root, no sudo: the missing package is not named"

# moreutils' parallel is not GNU parallel.
stub parallel 'echo "parallel [OPTIONS] command -- arguments"'
run -- parallel
[[ $calls == *"install -y --no-install-recommends parallel"* ]] ||
  fail "moreutils' parallel taken for GNU parallel: calls '$calls'"
rm "$tmp/stubs/parallel"

# --help answers and an unknown option is refused before anything runs,
# whatever is missing.
run -- --help cmake
[ "$status" -eq 0 ] && [[ $out == usage:* ]] && [ -z "$err$calls" ] ||
  fail "--help: status $status, output '$out', errors '$err', calls '$calls'"
run -- --dry-rn cmake
[ "$status" -eq 2 ] && [ -z "$out$calls" ] && [[ $err == *"unknown option --dry-rn"* ]] ||
  fail "unknown option: status $status, output '$out', errors '$err', calls '$calls'"

# --dry-run prints only commands, quoted: a shell running them passes a
# package name with a shell's special characters on as one word.
run -- --dry-run cmake 'no;such package'
[ "$status" -eq 0 ] && [ "$calls" = "id -u" ] || fail "dry run: status $status, calls '$calls'"
: >"$log"
env -i PATH="$tmp/stubs:$tmp/bin" bash -c "$out" >/dev/null 2>&1
calls=$(cat "$log")
[ "$calls" = "apt-get -o DPkg::Lock::Timeout=300 -qq update
apt-get -o DPkg::Lock::Timeout=300 -q install -y --no-install-recommends cmake no;such package" ] ||
  fail "dry run: the printed commands '$out' ran as '$calls'"

run APT_STATUS=100 -- cmake
[ "$status" -ne 0 ] || fail "a failing apt-get left status 0"

[ "$failures" -eq 0 ] && echo "install-deps: all checks passed"
exit $((failures > 0))
