# Starts the project's local HTTP and FTP servers on 127.0.0.1 (ephemeral ports) for the demo
# and the benchmark, and stops them again on every way out. Source it from bash.
#
#   start_http_server ROOT_DIR            sets HTTP_PORT
#   start_ftp_server USER PASSWORD HOME   sets FTP_PORT
#
# The servers' own messages go to $SERVER_LOG (default /dev/null).

PALISOR_REPO=${PALISOR_REPO:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
# Debian's interpreter sees python3-pyftpdlib; another python3 earlier on PATH may not.
PALISOR_PYTHON=${PALISOR_PYTHON:-/usr/bin/python3}
SERVER_LOG=${SERVER_LOG:-/dev/null}

child_pids=()

# Stops the servers, and a command still running under run_child.
stop_children() {
  local pid
  for pid in "${child_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  child_pids=()
}
trap stop_children EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs a command in the folder given first and returns its exit status. It runs in the
# background so that a signal to this script is handled at once, and passed on to the
# command, rather than after the command ends.
run_child_in() {
  local dir=$1
  shift
  (cd "$dir" && exec "$@") &
  child_pids+=("$!")
  wait "$!"
}

# Runs a server that prints its port on its first line and stores the port in the variable
# named first. (No command substitution: the server must stay a child of this shell.)
start_server() {
  local port_variable=$1
  shift
  local port_file
  port_file=$(mktemp)
  "$@" >"$port_file" 2>>"$SERVER_LOG" &
  local pid=$!
  child_pids+=("$pid")
  for _ in $(seq 100); do
    if [[ -s $port_file ]]; then
      printf -v "$port_variable" '%s' "$(head -n 1 "$port_file")"
      rm -f "$port_file"
      return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      break
    fi
    sleep 0.05
  done
  rm -f "$port_file"
  echo "could not start: $*" >&2
  return 1
}

start_http_server() {
  start_server HTTP_PORT "$PALISOR_PYTHON" "$PALISOR_REPO/tests/servers/http_server.py" "$1"
}

start_ftp_server() {
  start_server FTP_PORT "$PALISOR_PYTHON" "$PALISOR_REPO/tests/servers/ftp_server.py" "$1" "$2" "$3"
}
