#!/usr/bin/env bash
# run.sh: applies each deliberate fault of this folder alone (a patch against the
# interface's QML), rebuilds the Qt Quick Test runner, runs the QML suites (quick_* and
# e2e_product) and records which of them catch it. A development tool for judging those
# suites, not a test itself: it changes the working tree while it runs (each patch is
# reverted afterwards), so run it in a checkout of its own.
#
#   bench/faults/qml/run.sh [--build DIR] [--out FILE] [PATCH...]   (default: every *.patch)
#
# Needs root (e2e_product runs in the sandbox).
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
faults=$repo/bench/faults/qml
build=$repo/build
out=$faults/results.txt
readonly SUITES='^(quick_.*|e2e_product)$'

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

# failing_tests: the names of the suites that fail now, space-separated; "build failed"
# when the runner does not build. The QML is compiled into the runner, so it is all
# that needs building.
failing_tests() {
    cmake --build "$build" -j2 --target tarvex_quick_tests >"$build/qml-faults-build.log" 2>&1 \
        || { echo "build failed"; return; }
    ctest --test-dir "$build" -j2 -R "$SUITES" --timeout 120 >"$build/qml-faults-ctest.log" 2>&1
    sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*$/\1/p' "$build/qml-faults-ctest.log" | sort | tr '\n' ' '
}

cd "$repo" || exit 1
git diff --quiet -- client/qml || { echo "the QML has changes; commit or stash them first"; exit 2; }

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
cmake --build "$build" -j2 --target tarvex_quick_tests >/dev/null 2>&1
