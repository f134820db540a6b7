# shellcheck shell=bash
# What the shell tests share (sourced); the e2e scenarios' lib.sh has a fail of its own.

failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

finish() {
    ((failures)) && { echo "$failures check(s) failed"; exit 1; }
    echo "all checks passed"
    exit 0
}

# wait_for TRIES PAUSE COMMAND...: COMMAND until it succeeds, at most TRIES times PAUSE s apart.
wait_for() {
    local attempt
    for ((attempt = 1; attempt <= $1; attempt++)); do
        "${@:3}" && return 0
        ((attempt == $1)) || sleep "$2"
    done
    return 1
}

now_ms() {
    echo $((${EPOCHREALTIME//[.,]/} / 1000))
}
