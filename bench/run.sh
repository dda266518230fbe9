#!/usr/bin/env bash
# Download benchmark: builds the optimised programs, serves generated files with nginx on free
# loopback ports and times httpget and the window's download path against curl and a Python
# reference (see bench/README.md).
#
# Usage: bash bench/run.sh [run.py options, e.g. --runs 5 --runs-large 3 --sizes 1m,64m,1g]
#
# Environment: KAVORA_BENCH_BUILD_DIR (default build/bench), KAVORA_BENCH_DATA_DIR (default
# /tmp/kavora-bench-data: the generated files, kept between runs, and the downloads).
set -euo pipefail

cd "$(dirname "$0")/.."
source_dir=$(pwd)
build_dir=${KAVORA_BENCH_BUILD_DIR:-$source_dir/build/bench}
data_dir=${KAVORA_BENCH_DATA_DIR:-/tmp/kavora-bench-data}
markdown=$build_dir/bench-results.md

# GNU time reports the peak memory of a child apart from the process that started it.
if [[ ! -x /usr/bin/time ]]; then
  if [[ $(id -u) -eq 0 ]]; then
    apt-get install -y time >/dev/null
  else
    echo "run.sh: /usr/bin/time is missing: apt-get install time" >&2
    exit 1
  fi
fi

for tool in cmake ninja curl python3 /usr/sbin/nginx; do
  if ! command -v "$tool" >/dev/null; then
    echo "run.sh: $tool is missing (scripts/setup-debian.sh installs what the build needs;" \
      "apt-get install nginx curl python3)" >&2
    exit 1
  fi
done

# The release preset's settings, without the window's toolkit and the tests.
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKAVORA_BUILD_APP=OFF -DKAVORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j2 --target httpget bench_window_download bench_first_touch

mkdir -p "$data_dir"
pid_file=$data_dir/nginx.pid
rm -f "$pid_file"
# run.py stops nginx itself; this is for the case where run.py is killed outright.
stop_nginx() {
  if [[ -s $pid_file ]]; then
    local pid
    pid=$(cat "$pid_file")
    kill "$pid" 2>/dev/null || true
    rm -f "$pid_file"
  fi
}
trap stop_nginx EXIT
trap 'exit 130' INT TERM

python3 "$source_dir/bench/run.py" --build-dir "$build_dir" --data-dir "$data_dir" \
  --pid-file "$pid_file" --markdown "$markdown" "$@"
