#!/usr/bin/env bash
# Sourced by test.sh: starts nginx and tinyproxy on free loopback ports for the tests
# against real peers, and exports where they are. Tests that need them skip with a
# message when FETCHORA_NGINX_PORT is not set.

peers_dir=""
start_peers() {
  command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || { echo "==> nginx not installed: its tests will skip"; return 0; }
  peers_dir=$(mktemp -d /tmp/fetchora-peers.XXXXXX)
  if [ -f tests/support/peers/start.sh ]; then
    # shellcheck source=/dev/null
    source tests/support/peers/start.sh "$peers_dir"
  fi
}
stop_peers() {
  if [ -n "$peers_dir" ] && [ -f tests/support/peers/stop.sh ]; then
    # shellcheck source=/dev/null
    source tests/support/peers/stop.sh "$peers_dir"
  fi
  [ -n "$peers_dir" ] && rm -rf "$peers_dir"
  peers_dir=""
}
