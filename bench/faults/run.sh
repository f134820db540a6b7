#!/usr/bin/env bash
# run.sh: applies each deliberate fault of this folder alone (a patch against the product
# code), builds, runs the test suite and records which tests catch it. A development tool
# for judging the test suite, not a test itself: it changes the working tree while it
# runs (each patch is reverted afterwards), so run it in a checkout of its own.
#
#   bench/faults/run.sh [--build DIR] [--out FILE] [PATCH...]   (default: every *.patch)
#
# Needs root (the sandbox tests do). Tests that cannot see a product fault (the QML
# suites, packaging, the local vendor API) are left out, the same set every time.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
faults=$repo/bench/faults
build=$repo/build
out=$faults/results.txt
readonly EXCLUDE='^(quick_|qmllint|screenshots|macos_packaging_|install_prefix|tst_vendorapiserver_|tst_buildconfig|client_)'

while (($#)); do
    case $1 in
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        -h|--help) sed -n '2,9s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
        *) break ;;
    esac
done
patches=("$@")
((${#patches[@]})) || patches=("$faults"/*.patch)

# The programs the selected tests run: the Qt Test programs, named as their tests, and
# what the sandbox's tests start. The rest (the client, its QML) is not rebuilt.
targets() {
    ctest --test-dir "$build" -N -E "$EXCLUDE" | sed -n 's/^ *Test *#[0-9]*: \(tst_.*\)$/\1/p'
    echo TarvexVpnService tarvexctl amneziawg-go tarvex-macos vpnconfig-encode tarvex-attacker
}

# failing_tests: the names of the tests that fail now, space-separated; "build failed"
# when the tree does not build.
failing_tests() {
    # shellcheck disable=SC2046  # one target per word
    cmake --build "$build" -j2 --target $(targets) >"$build/faults-build.log" 2>&1 \
        || { echo "build failed"; return; }
    ctest --test-dir "$build" -j2 -E "$EXCLUDE" --timeout 120 >"$build/faults-ctest.log" 2>&1
    sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*$/\1/p' "$build/faults-ctest.log" | sort | tr '\n' ' '
}

cd "$repo" || exit 1
git diff --quiet -- common service client || { echo "the product code has changes; commit or stash them first"; exit 2; }

baseline=$(failing_tests)
{
    echo "# $(git rev-parse --short HEAD), $(date -u +%Y-%m-%dT%H:%MZ)"
    echo "baseline: ${baseline:-green}"
} >"$out"
caught=0
for patch in "${patches[@]}"; do
    name=$(basename "$patch" .patch)
    if ! git apply "$patch"; then
        echo "$name: does not apply" | tee -a "$out"
        continue
    fi
    failed=$(failing_tests)
    git apply -R "$patch"
    # What fails without the fault too says nothing about it.
    for test in $baseline; do failed=${failed//$test /}; done
    if [[ -z ${failed// /} ]]; then
        echo "$name: NOT CAUGHT" | tee -a "$out"
    else
        [[ $failed == "build failed" ]] || caught=$((caught + 1))
        echo "$name: ${failed% }" | tee -a "$out"
    fi
done
echo "caught: $caught of ${#patches[@]}" | tee -a "$out"
cmake --build "$build" -j2 >/dev/null 2>&1
