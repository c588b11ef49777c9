#!/usr/bin/env bash
# Sourced by test.sh: starts nginx and tinyproxy on free loopback ports for the tests
# against real peers, and nginx with TLS under a certificate authority made for the run,
# and exports where they are. Tests that need them skip with a message when
# FETCHORA_NGINX_PORT (FETCHORA_TLS_PORT) is not set.

peers_dir=""
start_peers() {
  command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || { echo "==> nginx not installed: its tests will skip"; return 0; }
  peers_dir=$(mktemp -d /tmp/fetchora-peers.XXXXXX)
  if [ -f tests/support/peers/start.sh ]; then
    # shellcheck source=/dev/null
    source tests/support/peers/start.sh "$peers_dir"
  fi
  start_tls_peers "$peers_dir"
}
stop_peers() {
  stop_tls_peers "$peers_dir"
  if [ -n "$peers_dir" ] && [ -f tests/support/peers/stop.sh ]; then
    # shellcheck source=/dev/null
    source tests/support/peers/stop.sh "$peers_dir"
  fi
  [ -n "$peers_dir" ] && rm -rf "$peers_dir"
  peers_dir=""
}

# TLS peers, started beside the plain ones by start_peers: a certificate authority of the
# test run, a server certificate for 127.0.0.1 and localhost, an expired one and one for
# another host name, each served by nginx with TLS on a port of its own over the plain
# peers' document root, and a plain server whose redirects lead to https. Exports
# FETCHORA_TLS_PORT, FETCHORA_TLS_EXPIRED_PORT, FETCHORA_TLS_WRONG_HOST_PORT,
# FETCHORA_TLS_PLAIN_PORT and FETCHORA_TLS_CA_FILE (tests set SSL_CERT_FILE to it).
start_tls_peers() {
  local dir=$1 www=$1/www
  local nginx_bin
  nginx_bin=$(fetchora_nginx_bin)
  [ -n "$nginx_bin" ] && [ -d "$www" ] || return 0
  command -v openssl >/dev/null 2>&1 || { echo "==> peers: openssl missing: TLS tests will skip" >&2; return 0; }
  local tls="$dir/tls"
  mkdir -p "$tls/ca/new" "$dir/tls-logs" "$dir/tls-temp" "$www/chunked"
  : >"$tls/ca/index.txt"
  echo 1000 >"$tls/ca/serial"
  cat >"$tls/ca.cnf" <<CNF
[ ca ]
default_ca = test_ca
[ test_ca ]
dir = $tls/ca
database = \$dir/index.txt
new_certs_dir = \$dir/new
serial = \$dir/serial
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[ any ]
commonName = supplied
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = Fetchora test authority
[ ca_ext ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
[ server_ext ]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
CNF
  (
    set -e
    cd "$tls"
    openssl req -x509 -new -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 \
      -config ca.cnf -extensions ca_ext
    make_cert() { # name subject-alt-names [start end]
      openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" \
        -subj "/CN=$1" -addext "subjectAltName=$2"
      local dates=(-days 30)
      [ $# -ge 4 ] && dates=(-startdate "$3" -enddate "$4")
      openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in "$1.csr" \
        -out "$1.pem" -extensions server_ext -notext "${dates[@]}"
    }
    make_cert server "IP:127.0.0.1,DNS:localhost"
    make_cert expired "IP:127.0.0.1,DNS:localhost" 20200101000000Z 20200201000000Z
    make_cert wronghost "DNS:wrong.example"
  ) >"$dir/tls-logs/openssl.log" 2>&1 || { echo "==> peers: no test certificates (see $dir/tls-logs/openssl.log)" >&2; return 0; }

  # A compressed text that nginx unpacks for the client: its length is not known before,
  # so HTTP/1.1 requests get it chunked.
  seq 1 20000 >"$www/chunked/numbers.txt"
  gzip -9 -c "$www/chunked/numbers.txt" >"$www/chunked/numbers.txt.gz"
  rm "$www/chunked/numbers.txt"
  seq 1 20000 >"$dir/tls/numbers.txt"
  chmod -R a+rX "$www" "$tls"

  local port expired wrong plain
  port=$(fetchora_free_port) && expired=$(fetchora_free_port) && wrong=$(fetchora_free_port) &&
    plain=$(fetchora_free_port) || { echo "==> peers: no free port for TLS" >&2; return 0; }
  local user_line=""
  [ "$(id -u)" = "0" ] && user_line="user root root;"
  local common="root $www;
        location /protected/ { auth_basic \"Fetchora tests\"; auth_basic_user_file $dir/htpasswd; }
        location /chunked/ { gunzip on; gzip_static always; }"
  cat >"$dir/nginx-tls.conf" <<CONF
$user_line
worker_processes 1;
daemon on;
pid $dir/nginx-tls.pid;
error_log $dir/tls-logs/error.log warn;
events { worker_connections 256; }
http {
    access_log $dir/tls-logs/access.log;
    client_body_temp_path $dir/tls-temp/body;
    proxy_temp_path $dir/tls-temp/proxy;
    fastcgi_temp_path $dir/tls-temp/fastcgi;
    uwsgi_temp_path $dir/tls-temp/uwsgi;
    scgi_temp_path $dir/tls-temp/scgi;
    types { text/html html; text/plain txt; application/octet-stream bin; }
    default_type application/octet-stream;
    sendfile on;
    keepalive_requests 10000;
    server {
        listen 127.0.0.1:$port ssl;
        ssl_certificate $tls/server.pem;
        ssl_certificate_key $tls/server.key;
        $common
        location = /redirect { return 302 /small.bin; }
        location = /to-http { return 302 http://127.0.0.1:$plain/small.bin; }
    }
    server {
        listen 127.0.0.1:$expired ssl;
        ssl_certificate $tls/expired.pem;
        ssl_certificate_key $tls/expired.key;
        root $www;
    }
    server {
        listen 127.0.0.1:$wrong ssl;
        ssl_certificate $tls/wronghost.pem;
        ssl_certificate_key $tls/wronghost.key;
        root $www;
    }
    server {
        listen 127.0.0.1:$plain;
        root $www;
        location = /to-https { return 302 https://127.0.0.1:$port/to-http; }
    }
}
CONF
  fetchora_start_nginx "$nginx_bin" "$dir" "$dir/nginx-tls.conf" "$dir/tls-logs/error.log" \
    "$dir/tls-logs/start.log" "$port" "nginx with TLS" || return 0
  export FETCHORA_TLS_PORT=$port FETCHORA_TLS_EXPIRED_PORT=$expired
  export FETCHORA_TLS_WRONG_HOST_PORT=$wrong FETCHORA_TLS_PLAIN_PORT=$plain
  export FETCHORA_TLS_CA_FILE=$tls/ca.pem
  echo "==> peers: nginx with TLS on 127.0.0.1:$port (expired $expired, wrong host $wrong, plain $plain)"
}

stop_tls_peers() {
  local dir=$1 pid
  [ -n "$dir" ] && [ -f "$dir/nginx-tls.pid" ] || return 0
  pid=$(cat "$dir/nginx-tls.pid" 2>/dev/null || true)
  [ -n "$pid" ] && kill -QUIT "$pid" 2>/dev/null || true
  for _ in $(seq 1 20); do
    [ -f "$dir/nginx-tls.pid" ] || break
    sleep 0.1
  done
  unset FETCHORA_TLS_PORT FETCHORA_TLS_EXPIRED_PORT FETCHORA_TLS_WRONG_HOST_PORT
  unset FETCHORA_TLS_PLAIN_PORT FETCHORA_TLS_CA_FILE
}
