#!/usr/bin/env bash
# Shows the whole Start sequence of the window against a web server on this machine.
#
# Usage: bash scripts/demo.sh [--xvfb]
#
# Installs what it needs (Debian 12, as root), serves two demo installers with nginx on a free
# loopback port, builds the program for that server (build/demo) and opens the window. Press
# Start, choose a folder, watch the progress bar, then answer the question. Everything the demo
# starts is stopped again when the window closes.
#
#   --xvfb   no desktop at hand: start the window on a virtual screen for a short check instead
#            (nobody can click it there; the script reports whether it came up).
set -euo pipefail

usage() {
  sed -n '4p' "$0" | sed 's/^# //'
}

mode=desktop
case "${1:-}" in
  "") ;;
  --xvfb) mode=xvfb ;;
  -h | --help)
    usage
    exit 0
    ;;
  *)
    usage >&2
    exit 2
    ;;
esac

if [[ $mode == desktop && -z "${DISPLAY:-}" ]]; then
  cat >&2 <<'EOF'
No display: run this from a desktop session, or install xvfb and run:
    xvfb-run -a bash scripts/demo.sh
(or run "bash scripts/demo.sh --xvfb" for a short check that the window comes up on a virtual
screen; nobody can press Start there.)
EOF
  exit 1
fi

cd "$(dirname "$0")/.."
source_dir=$(pwd)
build_dir="$source_dir/build/demo"

bash scripts/setup-debian.sh

workdir=$(mktemp -d /tmp/kavora-demo.XXXXXX)
nginx_pid=""
cleanup() {
  if [[ -n $nginx_pid ]]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A free port on the loopback interface.
port=$(python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
host="127.0.0.1:$port"

# Two demo installers: a small shell script that says what it is, followed by a few megabytes of
# filler so that the progress bar has something to show.
installers="$workdir/www/Downloads/Instal34"
mkdir -p "$installers"
make_installer() { # name, kind, megabytes
  local file="$installers/$1"
  printf '#!/bin/sh\necho "KAVORA 3.50 demo installer (%s), started in $(pwd)"\nexit 0\n' "$2" >"$file"
  head -c "$(($3 * 1024 * 1024))" /dev/urandom >>"$file"
  chmod 755 "$file"
}
make_installer Kavora35TotalInstal.exe "total installation" 12
make_installer Kavora35ProgramInstal.exe "program installation" 6

# nginx as the current user, everything in the work folder. The rate limit keeps the transfer
# slow enough to watch.
mkdir -p "$workdir/nginx"
# Run by root, nginx would hand its workers to "nobody", who cannot read the private work folder.
user_line=""
if ((EUID == 0)); then
  user_line="user $(id -un) $(id -gn);"
fi
cat >"$workdir/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $workdir/nginx/nginx.pid;
error_log $workdir/nginx/error.log;
$user_line
events { worker_connections 64; }
http {
  access_log $workdir/nginx/access.log;
  client_body_temp_path $workdir/nginx/client_body;
  proxy_temp_path $workdir/nginx/proxy;
  fastcgi_temp_path $workdir/nginx/fastcgi;
  uwsgi_temp_path $workdir/nginx/uwsgi;
  scgi_temp_path $workdir/nginx/scgi;
  default_type application/octet-stream;
  server {
    listen $host;
    root $workdir/www;
    location /Downloads/Instal34/ { limit_rate 3m; }
  }
}
EOF
nginx -p "$workdir/nginx/" -c "$workdir/nginx/nginx.conf" -e "$workdir/nginx/error.log" &
nginx_pid=$!

url="http://$host/Downloads/Instal34/Kavora35TotalInstal.exe"
for _ in $(seq 100); do
  if curl -fsI "$url" >/dev/null 2>&1; then
    break
  fi
  if ! kill -0 "$nginx_pid" 2>/dev/null; then
    echo "nginx did not start:" >&2
    cat "$workdir/nginx/error.log" >&2 || true
    exit 1
  fi
  sleep 0.1
done
curl -fsI "$url" >/dev/null || {
  echo "nginx does not answer on $host" >&2
  exit 1
}
echo "Demo server: http://$host/Downloads/Instal34/ (Kavora35TotalInstal.exe, Kavora35ProgramInstal.exe)"

echo "Building the program for this server in $build_dir (a few minutes the first time) ..."
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKAVORA_BUILD_TESTS=OFF -DKAVORA_DOWNLOAD_HOST="$host" >/dev/null
cmake --build "$build_dir" --target kavora-download -j "$(nproc)"
program="$build_dir/app/qt/kavora-download"

if [[ $mode == xvfb ]]; then
  check_seconds=10
  echo "Starting the window on a virtual screen for $check_seconds seconds ..."
  status=0
  xvfb-run -a timeout "$check_seconds" "$program" || status=$?
  if ((status == 124)); then
    echo "The window came up and ran until it was stopped. For the whole sequence, run the demo"
    echo "from a desktop session: bash scripts/demo.sh"
    exit 0
  fi
  echo "The window did not stay up (exit status $status)." >&2
  exit 1
fi

cat <<EOF

The window opens now. Press Start, choose a folder in the save dialog (it opens in the program's
own folder, $build_dir/app/qt), watch the status line and the progress bar, then answer the
question whether to start the installer. The demo ends when the window closes.
EOF
status=0
"$program" || status=$?
if ((status != 0)); then
  cat >&2 <<EOF
The window could not open or ended abnormally (exit status $status). If the display refused the
connection (root on a desktop session of another user), allow it from that session with
    xhost +SI:localuser:root
and run the demo again.
EOF
  exit "$status"
fi
