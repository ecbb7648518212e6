#!/usr/bin/env bash
# A test bed of hosts on one LAN for end-to-end tests, built from network
# namespaces. Needs root and iproute2.
#
# Every bed has a switch namespace holding a bridge, and host namespaces h1..hN
# wired to it by veth pairs, so no interface, address or route is added to the
# machine's own namespace and no traffic leaves the bed. The first hosts get
# 192.168.77.(10+k)/24, the last ones only 10.77.0.(10+k)/24. Each host has its
# own HOME and XDG_DATA_HOME under the bed's folder, so program instances on
# different hosts never share a data folder.
#
#   netbed.sh run [-n HOSTS] [-t TEN_HOSTS] -- COMMAND...
#       Brings a bed up, runs COMMAND with the NETBED_* variables set and tears
#       the bed down when COMMAND ends, fails or the script is interrupted.
#       Exits with COMMAND's status, or 77 (skipped) when not run as root.
#   netbed.sh up [-n HOSTS] [-t TEN_HOSTS] [-o OWNER_PID]
#       Brings a bed up and prints the export lines of its variables (to eval); it lives as long as
#       OWNER_PID (default: the caller) and is removed by the next bed after that.
#   netbed.sh down [BED]
#   netbed.sh exec [-i INSTANCE] HOST COMMAND...
#       Runs COMMAND in host HOST (1..N). -i gives the command a data folder of
#       its own beside the host's default one.
#   netbed.sh start [-i INSTANCE] HOST NAME COMMAND...
#       Starts COMMAND in the background in HOST; output goes to the log NAME.
#   netbed.sh stop HOST NAME [SIGNAL]     (default TERM; waits until it is gone)
#   netbed.sh log HOST NAME               (prints the log's path with -p)
#   netbed.sh wait-log HOST NAME REGEX [SECONDS]
#   netbed.sh addr HOST
#   netbed.sh clean                       (removes beds whose owner is gone)
#
# Commands other than up, run and clean act on the bed named by NETBED_ID (or
# -b BED as the first option). The script can also be sourced; it then defines
# the netbed_* functions and runs nothing.

NETBED_SELF=$(readlink -f "${BASH_SOURCE[0]}")
NETBED_STATE_ROOT=${NETBED_STATE_ROOT:-${TMPDIR:-/tmp}/lanferry-netbed}

netbed_die() {
    echo "netbed: $*" >&2
    exit 1
}

# The start time of a process in clock ticks, which tells a live owner from a
# later process that got the same id.
netbed_start_time() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    # Field 22 of the line; 20 after the name and state are cut off.
    echo "$stat" | awk '{ print $20 }'
}

netbed_owner_alive() {
    local bed=$1 pid start
    pid=${bed#lfb-}
    pid=${pid%%-*}
    kill -0 "$pid" 2>/dev/null || return 1
    if [ -f "$NETBED_STATE_ROOT/$bed/owner" ]; then
        start=$(netbed_start_time "$pid") || return 1
        [ "$start" = "$(sed -n 2p "$NETBED_STATE_ROOT/$bed/owner")" ] || return 1
    fi
    return 0
}

netbed_namespaces() {
    ip netns list 2>/dev/null | awk '{ print $1 }' | grep -E "^$1-(sw|h[0-9]+)\$"
}

netbed_down() {
    local bed=${1:-$NETBED_ID} ns pids
    [ -n "$bed" ] || netbed_die "down: which bed?"
    for ns in $(netbed_namespaces "$bed"); do
        # A namespace lives on while a process is in it, so end them first.
        pids=$(ip netns pids "$ns" 2>/dev/null)
        [ -z "$pids" ] || kill -KILL $pids 2>/dev/null
    done
    for ns in $(netbed_namespaces "$bed"); do
        ip netns del "$ns" 2>/dev/null
    done
    if [ -z "${NETBED_KEEP:-}" ]; then
        rm -rf "${NETBED_STATE_ROOT:?}/$bed"
    fi
    return 0
}

netbed_clean() {
    local bed
    for bed in $( (ip netns list 2>/dev/null | awk '{ print $1 }'; ls "$NETBED_STATE_ROOT" 2>/dev/null) |
        sed -nE 's/^(lfb-[0-9]+-[0-9]+).*/\1/p' | sort -u); do
        netbed_owner_alive "$bed" || netbed_down "$bed"
    done
}

netbed_up() {
    local hosts=3 ten=2 owner=$$ opt OPTIND=1
    while getopts "n:t:o:" opt; do
        case $opt in
        n) hosts=$OPTARG ;;
        t) ten=$OPTARG ;;
        o) owner=$OPTARG ;;
        *) netbed_die "up: unknown option" ;;
        esac
    done
    [ "$(id -u)" -eq 0 ] || netbed_die "the test bed needs root (network namespaces)"
    command -v ip >/dev/null || netbed_die "ip (iproute2) is missing"
    netbed_clean

    local bed="lfb-$owner-$RANDOM" total=$((hosts + ten)) k ns sw addr dir
    dir=$NETBED_STATE_ROOT/$bed
    mkdir -p "$dir" || netbed_die "cannot create $dir"
    printf '%s\n%s\n' "$owner" "$(netbed_start_time "$owner")" >"$dir/owner"
    sw=$bed-sw
    {
        ip netns add "$sw" &&
            ip -n "$sw" link set lo up &&
            ip -n "$sw" link add br0 type bridge forward_delay 0 stp_state 0 &&
            ip -n "$sw" link set br0 up
    } || {
        netbed_down "$bed"
        netbed_die "cannot create the switch of $bed"
    }
    for ((k = 1; k <= total; k++)); do
        ns=$bed-h$k
        if ((k <= hosts)); then addr=192.168.77.$((10 + k)); else addr=10.77.0.$((10 + k)); fi
        mkdir -p "$dir/h$k/home" "$dir/h$k/data"
        echo "$addr" >"$dir/h$k/addr"
        {
            ip netns add "$ns" &&
                ip -n "$ns" link set lo up &&
                ip -n "$sw" link add "p$k" type veth peer name eth0 netns "$ns" &&
                ip -n "$sw" link set "p$k" master br0 &&
                ip -n "$sw" link set "p$k" up &&
                ip -n "$ns" addr add "$addr/24" brd + dev eth0 &&
                ip -n "$ns" link set eth0 up
        } || {
            netbed_down "$bed"
            netbed_die "cannot create host $k of $bed"
        }
    done
    echo "$total" >"$dir/hosts"

    printf 'export NETBED_ID=%q NETBED_DIR=%q NETBED_HOSTS=%q NETBED=%q\n' "$bed" "$dir" "$total" "$NETBED_SELF"
    for ((k = 1; k <= total; k++)); do
        echo "export NETBED_ADDR_$k=$(cat "$dir/h$k/addr")"
    done
}

# Sets ns and hostdir for host $1 of the current bed.
netbed_host() {
    [ -n "${NETBED_ID:-}" ] || netbed_die "no bed: set NETBED_ID or use -b"
    [[ $1 =~ ^[0-9]+$ ]] || netbed_die "not a host number: $1"
    hostdir=$NETBED_STATE_ROOT/$NETBED_ID/h$1
    ns=$NETBED_ID-h$1
    [ -d "$hostdir" ] || netbed_die "no host $1 in $NETBED_ID"
}

# Sets NETBED_CMD to the command line that runs a command in a host.
netbed_command() {
    local instance="" opt OPTIND=1 ns hostdir home data
    while getopts "i:" opt; do
        case $opt in
        i) instance=$OPTARG ;;
        *) netbed_die "exec: unknown option" ;;
        esac
    done
    shift $((OPTIND - 1))
    netbed_host "$1"
    home=$hostdir/home data=$hostdir/data
    if [ -n "$instance" ]; then
        home=$hostdir/$instance/home data=$hostdir/$instance/data
    fi
    mkdir -p "$home" "$data"
    NETBED_CMD=(ip netns exec "$ns" env HOME="$home" XDG_DATA_HOME="$data" NETBED_HOST="$1"
        NETBED_HOST_ADDR="$(cat "$hostdir/addr")" "${@:2}")
}

netbed_exec() {
    netbed_command "$@"
    "${NETBED_CMD[@]}"
}

netbed_start() {
    local args=() ns hostdir
    if [ "$1" = "-i" ]; then
        args=(-i "$2")
        shift 2
    fi
    netbed_host "$1"
    local host=$1 name=$2
    shift 2
    netbed_command "${args[@]}" "$host" "$@"
    # exec keeps the process id, so the pid file names the command itself.
    (exec "${NETBED_CMD[@]}") >"$hostdir/$name.log" 2>&1 </dev/null &
    echo $! >"$hostdir/$name.pid"
}

netbed_stop() {
    local ns hostdir pid i
    netbed_host "$1"
    pid=$(cat "$hostdir/$2.pid" 2>/dev/null) || netbed_die "no process $2 in host $1"
    kill "-${3:-TERM}" "$pid" 2>/dev/null
    for ((i = 0; i < 100; i++)); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.05
    done
    netbed_die "process $2 in host $1 did not end"
}

netbed_log() {
    local ns hostdir
    if [ "$1" = "-p" ]; then
        netbed_host "$2"
        echo "$hostdir/$3.log"
    else
        netbed_host "$1"
        cat "$hostdir/$2.log"
    fi
}

netbed_wait_log() {
    local ns hostdir i
    netbed_host "$1"
    for ((i = 0; i < ${4:-10} * 20; i++)); do
        grep -qE "$3" "$hostdir/$2.log" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "netbed: no line matching '$3' in $2 of host $1 within ${4:-10} s" >&2
    return 1
}

netbed_addr() {
    local ns hostdir
    netbed_host "$1"
    cat "$hostdir/addr"
}

netbed_run() {
    local upArgs=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        upArgs+=("$1")
        shift
    done
    [ "${1:-}" = "--" ] && shift
    [ $# -gt 0 ] || netbed_die "run: no command"
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIP: the network test bed needs root (network namespaces); not running $*"
        exit 77
    fi
    local vars child=""
    vars=$(netbed_up -o $$ "${upArgs[@]}") || exit 1
    eval "$vars"
    trap 'netbed_down "$NETBED_ID"' EXIT
    trap '[ -z "$child" ] || kill -TERM "$child" 2>/dev/null; exit 130' INT
    trap '[ -z "$child" ] || kill -TERM "$child" 2>/dev/null; exit 143' TERM HUP
    # In the background, so that a signal is handled at once rather than after the command.
    "$@" &
    child=$!
    wait "$child"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -uo pipefail
    if [ "${1:-}" = "-b" ]; then
        export NETBED_ID=$2
        shift 2
    fi
    cmd=${1:-}
    shift || true
    case $cmd in
    run) netbed_run "$@" ;;
    up) netbed_up -o "$PPID" "$@" ;;
    down) netbed_down "$@" ;;
    exec)
        netbed_command "$@"
        # exec keeps the process id, so the caller can signal the command itself.
        exec "${NETBED_CMD[@]}"
        ;;
    start) netbed_start "$@" ;;
    stop) netbed_stop "$@" ;;
    log) netbed_log "$@" ;;
    wait-log) netbed_wait_log "$@" ;;
    addr) netbed_addr "$@" ;;
    clean) netbed_clean ;;
    *)
        sed -n '2,/^$/s/^# \{0,1\}//p' "$NETBED_SELF" >&2
        exit 2
        ;;
    esac
fi
