# shellcheck shell=bash
# What the shell tests share: fail counts a failed check and says which, finish reports
# and exits with the verdict, wait_for polls. Sourced; the e2e scenarios' lib.sh keeps a
# fail of its own that names the scenario.

failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

finish() {
    if ((failures)); then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

# wait_for TRIES PAUSE COMMAND...: runs COMMAND until it succeeds, at most TRIES times
# PAUSE seconds apart; fails when it never did.
wait_for() {
    local tries=$1 pause=$2 attempt
    shift 2
    for ((attempt = 1; attempt <= tries; attempt++)); do
        "$@" && return 0
        ((attempt == tries)) || sleep "$pause"
    done
    return 1
}
