#!/usr/bin/env bash
# run.sh: applies each deliberate fault of this folder alone (a patch against the product
# code), builds, runs the test suite and records which tests catch it. A development tool
# for judging the test suite, not a test itself: it changes the working tree while it
# runs (each patch is reverted afterwards), so run it in a checkout of its own.
#
#   bench/faults/run.sh [--qml] [--build DIR] [--out FILE] [--tests REGEX] [PATCH...]
#                                                                 (default: every *.patch)
#
# Needs root (the sandbox tests do). Tests that cannot see a product fault (the QML
# suites, packaging, the local vendor API) are left out, the same set every time.
# --qml: the faults of bench/faults/qml instead, patches against the interface's QML,
# judged by the QML suites (quick_*, e2e_product); only their runner is rebuilt.
# --tests: only the tests whose names match REGEX judge (what one group of tests catches).
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
faults=$repo/bench/faults
build=$repo/build
out=""
only=()
readonly EXCLUDE='^(quick_|qmllint|screenshots|macos_packaging_|install_prefix|tst_vendorapiserver_|client_)'
select=(-E "$EXCLUDE")
guarded=(common service client)

while (($#)); do
    case $1 in
        --qml) faults=$repo/bench/faults/qml; select=(-R '^(quick_.*|e2e_product)$'); guarded=(client/qml); shift ;;
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --tests) only=(-R "$2"); shift 2 ;;
        -h|--help) sed -n '2,12s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
        *) break ;;
    esac
done
[[ -n $out ]] || out=$faults/results.txt
patches=("$@")
((${#patches[@]})) || patches=("$faults"/*.patch)

# The programs the selected tests run: the Qt Test programs, named as their tests, and
# what the sandbox's tests start. The rest (the client, its QML) is not rebuilt. The QML
# is compiled into the Qt Quick Test runner, so for its faults that is all there is.
targets() {
    if [[ ${select[0]} == -R ]]; then
        echo tarvex_quick_tests
        return
    fi
    local names
    names=$(ctest --test-dir "$build" -N -E "$EXCLUDE" "${only[@]}" | sed -n 's/^ *Test *#[0-9]*: //p')
    grep '^tst_' <<<"$names"
    # Every other test starts the sandbox's programs.
    grep -qv '^tst_' <<<"$names" \
        && echo TarvexVpnService tarvexctl amneziawg-go tarvex-macos vpnconfig-encode tarvex-attacker
}

# failing_tests: the names of the tests that fail now, space-separated; "build failed"
# when the tree does not build.
failing_tests() {
    # shellcheck disable=SC2046  # one target per word
    cmake --build "$build" -j2 --target $(targets) >"$build/faults-build.log" 2>&1 \
        || { echo "build failed"; return; }
    ctest --test-dir "$build" -j2 "${select[@]}" "${only[@]}" --timeout 120 >"$build/faults-ctest.log" 2>&1
    sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*$/\1/p' "$build/faults-ctest.log" | sort | tr '\n' ' '
}

cd "$repo" || exit 1
git diff --quiet -- "${guarded[@]}" || { echo "the code under test has changes; commit or stash them first"; exit 2; }

started=$SECONDS
baseline=$(failing_tests)
{
    echo "# $(git rev-parse --short HEAD), $(date -u +%Y-%m-%dT%H:%MZ)"
    echo "baseline: ${baseline:-green} ($((SECONDS - started)) s)"
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
# shellcheck disable=SC2046  # one target per word
cmake --build "$build" -j2 --target $(targets) >/dev/null 2>&1
