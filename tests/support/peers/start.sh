#!/usr/bin/env bash
# Starts the real peers for the HTTP client's tests in the folder given as $1: nginx on a
# free loopback port serving a document root with files of a few sizes, a folder behind
# Basic authorization (user "fetchora", password "secret") and two redirects, and
# tinyproxy on another free port in front of it. Meant to be sourced; exports
# FETCHORA_NGINX_PORT, FETCHORA_PROXY_PORT and FETCHORA_PEERS_ROOT when both run.
# Works as root too: every pid, log and temporary path lies inside $1.

# The nginx program, or nothing when it is not installed.
fetchora_nginx_bin() {
    local bin
    bin=$(command -v nginx 2>/dev/null || true)
    [ -z "$bin" ] && [ -x /usr/sbin/nginx ] && bin=/usr/sbin/nginx
    echo "$bin"
}

# A port nobody answers on (a refused connection means free).
fetchora_free_port() {
    local port
    for _ in $(seq 1 50); do
        port=$((20000 + RANDOM % 30000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

# Waits up to five seconds for something to answer on the loopback port; 1 when nothing
# does.
fetchora_wait_for_port() {
    for _ in $(seq 1 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Starts nginx with the configuration CONF in PREFIX and waits for PORT:
# fetchora_start_nginx BIN PREFIX CONF ERROR_LOG START_LOG PORT WHAT. 1, with what nginx
# said (in START_LOG), when it does not start.
fetchora_start_nginx() {
    local bin=$1 prefix=$2 conf=$3 errors=$4 start=$5 port=$6 what=$7
    if ! "$bin" -e "$errors" -p "$prefix" -c "$conf" 2>"$start"; then
        echo "==> peers: $what did not start:" >&2
        cat "$start" >&2
        return 1
    fi
    fetchora_wait_for_port "$port" || true
}

fetchora_peers_start() {
    local dir=$1
    [ -n "$dir" ] || { echo "==> peers: no folder given" >&2; return 1; }
    mkdir -p "$dir" || return 1
    dir=$(cd "$dir" && pwd)
    chmod 755 "$dir"

    local nginx_bin tinyproxy_bin
    nginx_bin=$(fetchora_nginx_bin)
    tinyproxy_bin=$(command -v tinyproxy 2>/dev/null || true)
    [ -z "$tinyproxy_bin" ] && [ -x /usr/bin/tinyproxy ] && tinyproxy_bin=/usr/bin/tinyproxy
    if [ -z "$nginx_bin" ]; then
        echo "==> peers: nginx is not installed; tests against real peers will skip" >&2
        return 0
    fi

    local www="$dir/www"
    mkdir -p "$www/protected" "$dir/temp" "$dir/logs"
    head -c 1000 /dev/urandom >"$www/small.bin"
    head -c 300000 /dev/urandom >"$www/medium.bin"
    printf '<html><body><a href="small.bin">small</a></body></html>\n' >"$www/index.html"
    printf 'behind the door\n' >"$www/protected/file.txt"
    chmod -R a+rX "$www"

    local htpasswd_line
    if command -v openssl >/dev/null 2>&1; then
        htpasswd_line="fetchora:$(openssl passwd -apr1 secret)"
    else
        # "secret" under the salt "fetchora", computed once with openssl passwd -apr1.
        htpasswd_line='fetchora:$apr1$fetchora$VIOjGNgWcn24Gf0.3AqfQ1'
    fi
    printf '%s\n' "$htpasswd_line" >"$dir/htpasswd"
    chmod 644 "$dir/htpasswd"

    local nginx_port proxy_port
    nginx_port=$(fetchora_free_port) || { echo "==> peers: no free port" >&2; return 1; }
    local user_line=""
    [ "$(id -u)" = "0" ] && user_line="user root root;"
    cat >"$dir/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon on;
pid $dir/nginx.pid;
error_log $dir/logs/nginx-error.log warn;
events { worker_connections 128; }
http {
    access_log $dir/logs/nginx-access.log;
    client_body_temp_path $dir/temp/body;
    proxy_temp_path $dir/temp/proxy;
    fastcgi_temp_path $dir/temp/fastcgi;
    uwsgi_temp_path $dir/temp/uwsgi;
    scgi_temp_path $dir/temp/scgi;
    types { text/html html; text/plain txt; application/octet-stream bin; }
    default_type application/octet-stream;
    sendfile on;
    server {
        listen 127.0.0.1:$nginx_port;
        root $www;
        location /protected/ {
            auth_basic "Fetchora tests";
            auth_basic_user_file $dir/htpasswd;
        }
        location = /redirect { return 302 /small.bin; }
        location = /redirect-absolute { return 302 http://127.0.0.1:$nginx_port/medium.bin; }
    }
}
CONF
    fetchora_start_nginx "$nginx_bin" "$dir" "$dir/nginx.conf" "$dir/logs/nginx-error.log" \
        "$dir/logs/nginx-start.log" "$nginx_port" nginx || return 1
    export FETCHORA_NGINX_PORT=$nginx_port
    export FETCHORA_PEERS_ROOT=$dir
    echo "==> peers: nginx on 127.0.0.1:$nginx_port serving $www"

    if [ -z "$tinyproxy_bin" ]; then
        echo "==> peers: tinyproxy is not installed; proxy tests will skip" >&2
        return 0
    fi
    proxy_port=$(fetchora_free_port) || return 1
    local proxy_user=""
    [ "$(id -u)" = "0" ] && proxy_user=$'User nobody\nGroup nogroup'
    touch "$dir/logs/tinyproxy.log"
    chmod 666 "$dir/logs/tinyproxy.log"
    cat >"$dir/tinyproxy.conf" <<CONF
$proxy_user
Port $proxy_port
Listen 127.0.0.1
Timeout 60
MaxClients 32
Allow 127.0.0.1
PidFile "$dir/tinyproxy.pid"
LogFile "$dir/logs/tinyproxy.log"
LogLevel Warning
DisableViaHeader Yes
CONF
    "$tinyproxy_bin" -d -c "$dir/tinyproxy.conf" >"$dir/logs/tinyproxy-start.log" 2>&1 &
    echo $! >"$dir/tinyproxy.job"
    if fetchora_wait_for_port "$proxy_port"; then
        export FETCHORA_PROXY_PORT=$proxy_port
        echo "==> peers: tinyproxy on 127.0.0.1:$proxy_port"
    else
        echo "==> peers: tinyproxy did not start:" >&2
        cat "$dir/logs/tinyproxy-start.log" >&2
    fi
    return 0
}

fetchora_peers_start "${1:-}" || echo "==> peers: not started; tests against real peers will skip" >&2
