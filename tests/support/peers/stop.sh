#!/usr/bin/env bash
# Stops the peers that start.sh started in the folder given as $1 (nginx and tinyproxy,
# by the process ids they left there). Meant to be sourced.

fetchora_peers_stop() {
    local dir=$1
    [ -n "$dir" ] && [ -d "$dir" ] || return 0
    local pid
    if [ -f "$dir/nginx.pid" ]; then
        pid=$(cat "$dir/nginx.pid" 2>/dev/null || true)
        [ -n "$pid" ] && kill -QUIT "$pid" 2>/dev/null || true
    fi
    for file in tinyproxy.job tinyproxy.pid; do
        if [ -f "$dir/$file" ]; then
            pid=$(cat "$dir/$file" 2>/dev/null || true)
            [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
        fi
    done
    # Give both a moment to go, so their ports and files are free afterwards.
    for _ in $(seq 1 20); do
        [ -f "$dir/nginx.pid" ] || break
        sleep 0.1
    done
    unset FETCHORA_NGINX_PORT FETCHORA_PROXY_PORT FETCHORA_PEERS_ROOT
    return 0
}

fetchora_peers_stop "${1:-}"
