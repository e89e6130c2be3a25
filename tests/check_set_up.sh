#!/usr/bin/env bash
# The README's two set-up commands: each names BUILD_TESTING itself, so that
# either works first or after the other in the same build folder; the test
# command fails when it finds no tests; and CI runs that command as written.
#   check_set_up.sh README.md .ci/run
set -u
readme=$1 ci=$2
commands=$(sed -n '/^## Set up/,/^## /p' "$readme" | grep '^    apt-get ' | sed 's/^    //')
status=0
fail() {
  echo "$1"
  status=1
}
[[ $(grep -c . <<<"$commands") == 2 ]] || fail "the set-up section has not exactly two commands"
run=$(sed -n 1p <<<"$commands") test=$(sed -n 2p <<<"$commands")
[[ $run == *"cmake -S . -B build -DBUILD_TESTING=OFF "* ]] || fail "the first command does not build with -DBUILD_TESTING=OFF: $run"
[[ $run == *" ./build/dcf77tx "* ]] || fail "the first command does not run the transmitter: $run"
[[ $test == *"cmake -S . -B build -DBUILD_TESTING=ON "* ]] || fail "the test command does not build with -DBUILD_TESTING=ON: $test"
[[ $test == *"ctest "*"--no-tests=error"* ]] || fail "the test command passes when it finds no tests: $test"
grep -qxF -- "$test" "$ci" || fail "$ci does not run the README's test command as written"
[[ $status == 0 ]] && echo "set-up commands: ok"
exit $status
