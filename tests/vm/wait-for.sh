# Sourced by the guest's scripts: every wait in the VM has a limit.
wait_for() { # seconds description command...
    local limit=$1 what=$2
    shift 2
    for _ in $(seq $((limit * 4))); do
        "$@" && return 0
        sleep 0.25
    done
    echo "$(basename "$0" .sh): gave up waiting for $what" >&2
    return 1
}
