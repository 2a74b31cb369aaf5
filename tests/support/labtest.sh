# What the lab's test scripts share (POSIX sh, sourced by scripts two folders below the source
# root). A script calls lab_init, then lab_up, and reports with pass and fail; on exit the trap
# stops what the script started, takes its lab down, checks that the host is as it was before
# and exits 1 if anything failed.
#
#   . "$(dirname "$0")/../support/labtest.sh"
#   lab_init TAG NIMBORA_SERVICE_PROGRAM [LOG_FOLDER]
#
# lab_init exits 77 (skipped) with the reason when not root or when this kernel offers no
# network namespaces or tun devices. Everything the script starts gets NIMBORA_RESOLVER_METHOD=file:
# the product then changes only the client's own resolver file, never the machine's resolver.
set -u

lab_root=$(cd "$(dirname "$0")/../.." && pwd)
lab_command=$lab_root/scripts/lab
lab_passes=0
lab_failures=0
lab_pids=""

pass() {
    lab_passes=$((lab_passes + 1))
    echo "PASS: $*"
}

fail() {
    lab_failures=$((lab_failures + 1))
    echo "FAIL: $*"
}

# The lab's name carries the tag and the script's process id: the lab of a run that was killed
# (a time-out) is found and taken down by a later run once that process has gone.
lab_init() {
    [ "$(id -u)" -eq 0 ] || { echo "SKIP: the lab needs root (network namespaces, veth pairs, tun devices)"; exit 77; }
    unshare --net true 2>/dev/null || { echo "SKIP: network namespaces are not available here"; exit 77; }
    [ -c /dev/net/tun ] || { echo "SKIP: /dev/net/tun is missing"; exit 77; }
    export NIMBORA_LAB_NAME="nimbora-test-$1-$$" NIMBORA_SERVICE="$2" NIMBORA_RESOLVER_METHOD=file
    LAB_WORK=$(mktemp -d "/tmp/$NIMBORA_LAB_NAME.XXXXXX")
    export NIMBORA_LAB_LOGS="${3:-$LAB_WORK/logs}"
    # shellcheck source=../../scripts/lab.d/lab.conf
    . "$lab_root/scripts/lab.d/lab.conf"
    # The lab's CA signs the stand-in's certificate: whatever the script runs trusts it for the main server.
    export NIMBORA_MAIN_SERVER_CA="$LAB_RUN/pki/ca.crt"
    # shellcheck disable=SC2046 # the first subscriber's fields
    set -- $(printf '%s\n' "$USERS" | awk 'NF >= 3 { print; exit }')
    LAB_USER=$1 LAB_PASSWORD=$2 LAB_PREMIUM=$3 LAB_SESSION=""

    for lab_stale in $( (ip netns list 2>/dev/null | awk '{ print $1 }'; ls /run /tmp) \
        | sed -n -E 's/^(nimbora-test-[a-z0-9]+-([0-9]+))(-client|-service|-proxy|-lab|\.[A-Za-z0-9]{6})$/\1:\2/p' \
        | sort -u); do
        kill -0 "${lab_stale#*:}" 2>/dev/null && continue
        NIMBORA_LAB_NAME=${lab_stale%:*} "$lab_command" down >/dev/null 2>&1
        rm -rf "/tmp/${lab_stale%:*}".*
    done
    rm -rf "$NIMBORA_LAB_LOGS"
    mkdir -p "$NIMBORA_LAB_LOGS"
    lab_host_state >"$LAB_WORK/host-before"
    trap 'lab_finish $?' EXIT
    trap 'exit 130' INT TERM
}

lab_up() {
    "$lab_command" up >"$LAB_LOGS/lab-up.log" 2>&1 || { fail "lab up"; exit 1; }
}

# What a lab must leave as it found it. Other labs may come and go meanwhile: only this one's
# namespaces and files are listed. A namespace's /etc is the host's but for its resolv.conf and
# hosts, so a resolver file written beside them (a copy, a backup) would land in the host's /etc.
lab_host_state() {
    ip netns list | awk '{ print $1 }' | grep "^$LAB_NAME-"
    ls -d "/etc/netns/$LAB_NAME"-* "$LAB_RUN" 2>/dev/null
    ip -o link show | awk -F': ' '{ print $2 }' | sort
    ip route show | sort
    md5sum /etc/resolv.conf /etc/hosts
    ls -d /etc/*resolv* /etc/.*resolv* /etc/hosts* 2>/dev/null
}

# Live processes whose command line names the lab's run folder or the script's work folder.
lab_processes() {
    for lab_cmdline in /proc/[0-9]*/cmdline; do
        tr '\0' ' ' 2>/dev/null <"$lab_cmdline" | grep -qF -e "$LAB_RUN/" -e "$LAB_WORK/" && echo "${lab_cmdline%/cmdline}"
    done
}

lab_finish() {
    lab_status=$1
    lab_stop_all
    "$lab_command" down >/dev/null 2>&1 || fail "lab down"
    lab_host_state >"$LAB_WORK/host-after"
    if diff "$LAB_WORK/host-before" "$LAB_WORK/host-after" >"$LAB_WORK/host-diff"; then
        pass "the host's namespaces, links, routes and name files are as before the lab"
    else
        fail "the lab left the host changed:"
        cat "$LAB_WORK/host-diff"
    fi
    lab_left=$(lab_processes)
    [ -z "$lab_left" ] && pass "no process of the lab is left" || fail "processes of the lab are left: $lab_left"
    if grep -l 'ERROR: .*Sanitizer\|runtime error:' "$LAB_LOGS"/*.log 2>/dev/null; then
        fail "a sanitizer report in the logs above"
    fi
    if [ $lab_failures -gt 0 ]; then
        echo "--- the end of each log ($LAB_LOGS) ---"
        for lab_log in "$LAB_LOGS"/*.log; do
            [ -f "$lab_log" ] && echo "== $(basename "$lab_log")" && tail -n 25 "$lab_log"
        done
        [ "$lab_status" -ne 0 ] || lab_status=1
    fi
    rm -rf "$LAB_WORK"
    echo "$lab_passes passed, $lab_failures failed"
    exit "$lab_status"
}

# Started in the background, a program must be given to "ip netns exec" straight, so that $! is its
# own process id and not that of a shell running this function.
lab_client() {
    NIMBORA_RESOLVER_METHOD='file' ip netns exec "$NS_CLIENT" "$@"
}

lab_endpoint() {
    printf '%s\n' "$ENDPOINTS" | awk -v i="$1" 'NF >= 9 && $1 == i { print $2 }'
}

# The server's side of endpoint N's VPN subnet, where the echo service answers.
lab_gateway() {
    echo "$VPN_NETWORK_PREFIX.$1.1"
}

# The DNS server that endpoint N pushes to its clients.
lab_dns() {
    echo "$VPN_NETWORK_PREFIX.$1.$VPN_DNS_HOST"
}

# lab_whoami [SOCKS_PORT [4a|5]]: the whoami service's answer as seen from the client host, the
# address the connection came from: CLIENT_ADDRESS straight, 198.19.N.x through endpoint N's VPN.
# With SOCKS_PORT the connection goes through a SOCKS server on 127.0.0.1:SOCKS_PORT of the client
# host, which resolves the service's name (SOCKS 4a, or 5). False with no answer within 10 s.
lab_whoami() {
    case "${1:+${2:-4a}}" in
        "") lab_client socat -u -T 10 "TCP:$WHOAMI_HOST:$WHOAMI_PORT,connect-timeout=5" - ;;
        4a) lab_client socat -u -T 10 "SOCKS4A:127.0.0.1:$WHOAMI_HOST:$WHOAMI_PORT,socksport=$1,connect-timeout=5" - ;;
        5) lab_client curl -s --max-time 10 --socks5-hostname "127.0.0.1:$1" "telnet://$WHOAMI_HOST:$WHOAMI_PORT" </dev/null ;;
        *) echo "lab_whoami: SOCKS version 4a or 5, not $2" >&2; return 2 ;;
    esac 2>>"$LAB_LOGS/whoami.log"
}

# lab_whoami6: the IPv6 whoami's answer as seen from the client host, its own IPv6 address
# (CLIENT_ADDRESS6): the VPN carries no IPv6. False with no answer within 10 s.
lab_whoami6() {
    lab_client curl -6 -s --max-time 10 "telnet://[$WHOAMI_ADDRESS6]:$WHOAMI_PORT" </dev/null 2>>"$LAB_LOGS/whoami.log"
}

# lab_count start|show|stop: the lab's counter of the packets that leave the client's physical
# adapter outside the transport (scripts/lab count).
lab_count() {
    "$lab_command" count "$@"
}

# The packets counted as leaked since "lab_count start".
lab_leaked() {
    lab_count show | awk '$1 == "leaked" { print $2 }'
}

# The client host's nftables ruleset but for the counter's table, which is the lab's, not the
# machine's.
lab_ruleset() {
    ip netns exec "$NS_CLIENT" nft list ruleset | awk -v table="table inet $COUNTER_TABLE {" \
        '$0 == table { skip = 1 } !skip { print } skip && $0 == "}" { skip = 0 }'
}

# lab_kick [N]: endpoint N's OpenVPN server drops its clients (every endpoint's without N); false
# when none was connected.
lab_kick() {
    "$lab_command" kick "$@" >>"$LAB_LOGS/kick.log" 2>&1
}

# Runs COMMAND... every tenth of a second until it succeeds, for SECONDS at most.
lab_wait_for() {
    lab_tries=$(($1 * 10))
    shift
    until "$@"; do
        lab_tries=$((lab_tries - 1))
        [ $lab_tries -gt 0 ] || return 1
        sleep 0.1
    done
}

# Ends every program started with lab_openvpn and lab_tunnel.
lab_stop_all() {
    for lab_pid in $lab_pids; do
        kill -TERM "$lab_pid" 2>/dev/null
        wait "$lab_pid" 2>/dev/null
    done
    lab_pids=""
}

# Logs the lab's first subscriber in through the main server: LAB_SESSION, and the file of
# OpenVPN credentials $LAB_WORK/auth.
lab_login() {
    lab_digest=$(printf '%s' "$LAB_PASSWORD" | md5sum | cut -d' ' -f1)
    lab_reply=$(lab_client curl -s --noproxy '*' --max-time 5 \
        "http://$MAIN_HOST/client/login?username=$LAB_USER&password=$lab_digest&version=1.6.7")
    LAB_SESSION=$(printf '%s\n' "$lab_reply" | sed -n 's:.*<session>\([0-9a-f]*\)</session>.*:\1:p')
    [ ${#LAB_SESSION} -eq 32 ] || { fail "login: $lab_reply"; exit 1; }
    printf '%s\n%s\n' "$LAB_USER" "$LAB_SESSION" >"$LAB_WORK/auth"
    chmod 600 "$LAB_WORK/auth"
}

# lab_openvpn NAME ARGUMENTS...: Debian's openvpn on the client host with the session's
# credentials, as the product starts it, and ARGUMENTS for the way in. True once its tunnel is
# up. It retries: through an authenticating proxy the first connection ends at the challenge.
lab_openvpn() {
    lab_openvpn_log=$LAB_LOGS/openvpn-$1.log
    shift
    ip netns exec "$NS_CLIENT" openvpn --client --dev "$CLIENT_TUN" --dev-type tun --proto tcp-client --ca "$LAB_RUN/pki/ca.crt" \
        --remote-cert-tls server --reneg-sec 0 --auth-nocache --compress --resolv-retry 0 --ping 10 --ping-exit 30 \
        --connect-retry 1 1 --connect-retry-max 5 --verb 3 --auth-user-pass "$LAB_WORK/auth" "$@" \
        </dev/null >"$lab_openvpn_log" 2>&1 &
    lab_openvpn_pid=$!
    lab_pids="$lab_pids $!"
    lab_wait_for 60 lab_openvpn_decided
    grep -q 'Initialization Sequence Completed' "$lab_openvpn_log"
}

lab_openvpn_decided() {
    grep -sqE 'Initialization Sequence Completed|AUTH_FAILED|Exiting due to fatal error' "$lab_openvpn_log" \
        || ! kill -0 "$lab_openvpn_pid" 2>/dev/null
}

# lab_tunnel NAME PROGRAM ARGUMENTS...: a local listener on the client host, told to take a free
# port, which it prints (alone or as "listening on 127.0.0.1:PORT") once it listens: LAB_PORT.
lab_tunnel() {
    lab_tunnel_log=$LAB_LOGS/$1.log
    shift
    ip netns exec "$NS_CLIENT" "$@" </dev/null >"$lab_tunnel_log" 2>&1 &
    LAB_TUNNEL_PID=$!
    lab_pids="$lab_pids $!"
    LAB_PORT=""
    lab_wait_for 10 lab_tunnel_listens
    [ -n "$LAB_PORT" ]
}

lab_tunnel_listens() {
    LAB_PORT=$(sed -n -E 's/^(listening on 127\.0\.0\.1:)?([0-9]+)$/\2/p' "$lab_tunnel_log" 2>/dev/null | head -n 1)
    [ -n "$LAB_PORT" ] || ! kill -0 "$LAB_TUNNEL_PID" 2>/dev/null
}

# lab_echo N BYTES: random bytes to the echo service behind endpoint N's VPN gateway, which
# answers only addresses inside the VPN; true when all of them come back.
lab_echo() {
    head -c "$2" /dev/urandom >"$LAB_WORK/sent"
    lab_client socat -t 10 -T 30 - "TCP:$(lab_gateway "$1"):$VPN_ECHO_PORT,connect-timeout=5" \
        <"$LAB_WORK/sent" >"$LAB_WORK/received" 2>>"$LAB_LOGS/socat.log"
    cmp -s "$LAB_WORK/sent" "$LAB_WORK/received"
}

# lab_qtest PROGRAM ARGUMENTS...: a QtTest program on the client host, told about the lab
# through NIMBORA_LAB_* variables: NIMBORA_LAB_COMMAND is scripts/lab (for "kick"), and endpoint N
# has NIMBORA_LAB_ENDPOINT_N, NIMBORA_LAB_GATEWAY_N and NIMBORA_LAB_DNS_N.
lab_qtest() {
    if (
        export NIMBORA_LAB_HOST=client NIMBORA_LAB_USER="$LAB_USER" NIMBORA_LAB_PASSWORD="$LAB_PASSWORD" \
            NIMBORA_LAB_PREMIUM="$LAB_PREMIUM" NIMBORA_LAB_SESSION="$LAB_SESSION" NIMBORA_LAB_TUN="$CLIENT_TUN" \
            NIMBORA_LAB_CA="$LAB_RUN/pki/ca.crt" NIMBORA_LAB_OPENVPN_LOG="$LAB_LOGS/qtest-openvpn.log" \
            NIMBORA_LAB_PROXY_HOST="$PROXY_ADDRESS" NIMBORA_LAB_PROXY_PORT="$HTTP_PROXY_PORT" \
            NIMBORA_LAB_PROXY_USER="$HTTP_PROXY_USER" NIMBORA_LAB_PROXY_PASSWORD="$HTTP_PROXY_PASSWORD" \
            NIMBORA_LAB_COMMAND="$lab_command" NIMBORA_LAB_VERIFIED_USERS="$VERIFIED_USERS" \
            NIMBORA_LAB_CLIENT_ADDRESS="$CLIENT_ADDRESS" NIMBORA_LAB_WHOAMI_HOST="$WHOAMI_HOST" \
            NIMBORA_LAB_WHOAMI_ADDRESS="$WHOAMI_ADDRESS" NIMBORA_LAB_WHOAMI_PORT="$WHOAMI_PORT"
        # The endpoints' keys, shortest responder delay first, and each one's addresses.
        NIMBORA_LAB_ENDPOINTS=$(printf '%s\n' "$ENDPOINTS" | awk 'NF >= 9 { print $9, $4 "/" $6 "/" $7 }' \
            | sort -n | cut -d' ' -f2 | tr '\n' ' ')
        export NIMBORA_LAB_ENDPOINTS
        for lab_index in $(printf '%s\n' "$ENDPOINTS" | awk 'NF >= 9 { print $1 }'); do
            export "NIMBORA_LAB_ENDPOINT_$lab_index=$(lab_endpoint "$lab_index")" \
                "NIMBORA_LAB_GATEWAY_$lab_index=$(lab_gateway "$lab_index")" "NIMBORA_LAB_DNS_$lab_index=$(lab_dns "$lab_index")"
        done
        lab_client "$@"
    ); then
        pass "$(basename "$1")"
    else
        fail "$(basename "$1")"
    fi
}

# lab_as USER COMMAND...: a program on the client host as one of its local users (LAB_ACTIVE_USER,
# LAB_OTHER_USER), with nothing of root's environment: home, settings, data and runtime folders in
# the user's lab home, the client host's system bus, the lab's CA for the main server.
lab_as() {
    (lab_as_start "$@")
}

# lab_as_start USER COMMAND... &: the same in the background. It replaces the shell that runs it,
# so that $! is the program's own process id: never call it in the foreground.
lab_as_start() {
    lab_as_user=$1
    lab_as_home=$LAB_HOMES/$1
    shift
    exec ip netns exec "$NS_CLIENT" setpriv --reuid="$lab_as_user" --regid="$lab_as_user" --init-groups \
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME="$lab_as_home" USER="$lab_as_user" \
        LOGNAME="$lab_as_user" XDG_CONFIG_HOME="$lab_as_home/.config" XDG_DATA_HOME="$lab_as_home/.local/share" \
        XDG_RUNTIME_DIR="$lab_as_home/.runtime" GSETTINGS_BACKEND=keyfile DBUS_SYSTEM_BUS_ADDRESS="$LAB_BUS_ADDRESS" \
        NIMBORA_MAIN_SERVER_CA="$LAB_RUN/pki/ca.crt" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
        LSAN_OPTIONS="${LSAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
        sh -c 'mkdir -p -m 700 "$XDG_RUNTIME_DIR" && exec "$@"' sh "$@"
}
