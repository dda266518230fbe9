#!/usr/bin/env python3
"""Download benchmark: httpget and the window's path against curl and a Python reference.

Called by run.sh after the build. Serves generated files (1 MiB, 64 MiB, 1 GiB) with nginx on
free loopback ports, once with a Content-Length and once chunked without one, and runs each
tool alternately, several times after a warm-up, measuring wall time, CPU time (user + system),
peak resident memory and minor page faults of every run (from wait4's resource usage of that
very child). Prints per size the median and range of each metric per tool and the pair-by-pair
ratios, checks the goals, and writes the same as markdown.
"""

import argparse
import datetime
import filecmp
import os
import platform
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1024 * 1024
SIZES = {"1m": 1 * MIB, "64m": 64 * MIB, "1g": 1024 * MIB}
SIZE_LABELS = {"1m": "1 MiB", "64m": "64 MiB", "1g": "1 GiB"}
FRAMINGS = ("length", "chunked")
FRAMING_LABELS = {"length": "Content-Length announced", "chunked": "chunked, no Content-Length"}
# The window asks for this path on its server; every tool fetches the same URL.
INSTALLER_PATH = "/Downloads/Instal34/Kavora35TotalInstal.exe"
INSTALLER_NAME = "Kavora35TotalInstal.exe"
# Chunk size of the unannounced answers: nginx reads the file through buffers of this size
# (sendfile off there) and sends each as one chunk, like a server that produces its answer.
CHUNK_BUFFER = "32k"

# Goals.
HTTPGET_WALL_GOAL = 1.10
HTTPGET_CPU_GOAL = 1.25
HTTPGET_RSS_GOAL_MIB = 32
WINDOW_SLACK_MIB = 16

TIME = "/usr/bin/time"


def log(text):
    print(text, file=sys.stderr, flush=True)


# --- Files -----------------------------------------------------------------------------------

def generate_file(path, size, seed):
    """Random-ish bytes (a seeded generator, so every run serves the same content)."""
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    log(f"generating {path} ({size} bytes)")
    rng = random.Random(seed)
    partial = path + ".partial"
    with open(partial, "wb") as out:
        left = size
        while left > 0:
            n = min(left, MIB)
            out.write(rng.randbytes(n))
            left -= n
    os.replace(partial, path)


def generate_files(data_dir, sizes):
    for key in sizes:
        generate_file(os.path.join(data_dir, key) + INSTALLER_PATH, SIZES[key], seed=SIZES[key])
    empty = os.path.join(data_dir, "empty")
    open(empty, "wb").close()
    return empty


# --- nginx -----------------------------------------------------------------------------------

def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


class Nginx:
    """One nginx process (no master, no daemon) with a server block per size and framing."""

    def __init__(self, binary, data_dir, sizes, empty_file, pid_file):
        self.binary = binary
        self.folder = tempfile.mkdtemp(prefix="kavora-bench-nginx-")
        os.chmod(self.folder, 0o755)
        self.ports = {(key, framing): free_port() for key in sizes for framing in FRAMINGS}
        self.data_dir = data_dir
        self.empty_file = empty_file
        self.pid_file = pid_file
        self.process = None

    def config(self):
        temp = os.path.join(self.folder, "temp")
        lines = [
            "daemon off;",
            "master_process off;",
            "worker_processes 1;",
            f"pid {self.folder}/nginx.pid;",
            f"error_log {self.folder}/error.log warn;",
            "events { worker_connections 64; }",
            "http {",
            "  access_log off;",
            "  sendfile on;",
            "  tcp_nopush on;",
            "  keepalive_timeout 5;",
            "  types { }",
            "  default_type application/octet-stream;",
        ]
        for name in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
            lines.append(f"  {name}_temp_path {temp}/{name};")
        for (key, framing), port in sorted(self.ports.items()):
            root = os.path.join(self.data_dir, key)
            lines.append(f"  server {{ listen 127.0.0.1:{port}; root {root};")
            if framing == "chunked":
                # The addition filter drops the length (it would append the empty file after the
                # body), so HTTP/1.1 answers go out chunked; without sendfile every read buffer
                # becomes one chunk.
                lines += [
                    "    location / { addition_types *; add_after_body /kavora-bench-empty;",
                    f"      sendfile off; output_buffers 2 {CHUNK_BUFFER}; }}",
                    f"    location = /kavora-bench-empty {{ alias {self.empty_file}; }}",
                ]
            lines.append("  }")
        lines.append("}")
        return "\n".join(lines) + "\n"

    def start(self):
        os.makedirs(os.path.join(self.folder, "temp"), exist_ok=True)
        conf = os.path.join(self.folder, "nginx.conf")
        with open(conf, "w") as f:
            f.write(self.config())
        self.process = subprocess.Popen(
            [self.binary, "-p", self.folder, "-c", conf, "-e", f"{self.folder}/error.log"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(self.pid_file, "w") as f:
            f.write(f"{self.process.pid}\n")
        deadline = time.monotonic() + 20
        pending = set(self.ports.values())
        while pending:
            if self.process.poll() is not None:
                raise RuntimeError("nginx ended at start:\n" + self.error_log())
            if time.monotonic() > deadline:
                raise RuntimeError("nginx does not accept connections:\n" + self.error_log())
            pending = {p for p in pending if not accepts(p)}
            if pending:
                time.sleep(0.05)

    def error_log(self):
        try:
            with open(os.path.join(self.folder, "error.log")) as f:
                return f.read()
        except OSError:
            return ""

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
        try:
            os.unlink(self.pid_file)
        except OSError:
            pass
        shutil.rmtree(self.folder, ignore_errors=True)

    def host(self, key, framing):
        return f"127.0.0.1:{self.ports[(key, framing)]}"

    def url(self, key, framing):
        return f"http://{self.host(key, framing)}{INSTALLER_PATH}"


# --- Running one measured process ------------------------------------------------------------

class Sample:
    def __init__(self, wall, user, sys_, maxrss_kib, minflt):
        self.wall = wall
        self.user = user
        self.sys = sys_
        self.cpu = user + sys_
        self.rss = maxrss_kib / 1024.0  # MiB
        self.minflt = minflt


def measure(argv, log_file):
    """Runs argv to its end under GNU time. Peak memory and page faults are time's report of
    argv alone: a child started straight from this script would count the Python process it was
    forked from in its peak. CPU time is wait4's microsecond figure for time and argv together
    (time's own share is well under a millisecond)."""
    report = log_file + ".time"
    with open(log_file, "wb") as out:
        start = time.perf_counter()
        process = subprocess.Popen([TIME, "-o", report, "-f", "%M %R"] + argv,
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        with open(log_file, "rb") as f:
            text = f.read().decode(errors="replace")
        raise RuntimeError(f"{argv[0]} failed ({process.returncode}):\n{text}")
    with open(report) as f:
        maxrss_kib, minflt = (int(v) for v in f.read().split()[-2:])
    return Sample(wall, usage.ru_utime, usage.ru_stime, maxrss_kib, minflt)


class Tools:
    def __init__(self, build_dir, bench_dir, out_dir, baseline_dir=None):
        self.httpget = os.path.join(build_dir, "tools", "httpget")
        self.window = os.path.join(build_dir, "bench", "bench_window_download")
        # The same programs from another build (an earlier state of the code), for before/after.
        self.baseline_dir = baseline_dir
        self.first_touch = os.path.join(build_dir, "bench", "bench_first_touch")
        self.pyref = os.path.join(bench_dir, "pyref.py")
        self.curl = shutil.which("curl")
        self.out_dir = out_dir
        self.log_file = os.path.join(out_dir, "last-run.log")

    def target(self, tool):
        folder = os.path.join(self.out_dir, tool)
        os.makedirs(folder, exist_ok=True)
        # The window picks the installer's name itself; the others get the same name.
        return folder, os.path.join(folder, INSTALLER_NAME)

    def command(self, tool, nginx, key, framing):
        folder, file = self.target(tool)
        url = nginx.url(key, framing)
        if tool == "httpget":
            return [self.httpget, url, file], file
        if tool == "httpget-base":
            return [os.path.join(self.baseline_dir, "tools", "httpget"), url, file], file
        if tool == "window-base":
            program = os.path.join(self.baseline_dir, "bench", "bench_window_download")
            return [program, nginx.host(key, framing), folder], file
        if tool == "curl":
            return [self.curl, "-s", "-f", "-o", file, url], file
        if tool == "curl+fsync":
            # curl leaves the file in the page cache; httpget and the window flush theirs to the
            # disk before the rename. This is curl with the same flush, for comparison only.
            script = 'curl -s -f -o "$1" "$2" && sync "$1"'
            return ["/bin/sh", "-c", script, "sh", file, url], file
        if tool == "window":
            return [self.window, nginx.host(key, framing), folder], file
        if tool == "python":
            return [sys.executable, self.pyref, url, file], file
        raise ValueError(tool)

    def run(self, tool, nginx, key, framing, source, verify=False):
        argv, file = self.command(tool, nginx, key, framing)
        if os.path.exists(file):
            os.unlink(file)
        # Each run starts without dirty pages of the one before it waiting to be written.
        os.sync()
        sample = measure(argv, self.log_file)
        size = os.path.getsize(file)
        if size != os.path.getsize(source):
            raise RuntimeError(f"{tool} wrote {size} bytes instead of {os.path.getsize(source)}")
        if verify and not filecmp.cmp(file, source, shallow=False):
            raise RuntimeError(f"{tool} wrote other bytes than the server's file")
        os.unlink(file)
        return sample


# --- Statistics and tables -------------------------------------------------------------------

def median(values):
    return statistics.median(values)


def cell(values, fmt):
    return f"{fmt.format(median(values))} [{fmt.format(min(values))}–{fmt.format(max(values))}]"


METRICS = [("wall", "wall s", "{:.3f}"), ("cpu", "CPU s", "{:.3f}"),
           ("rss", "peak RSS MiB", "{:.1f}"), ("sys", "sys s", "{:.3f}"),
           ("minflt", "minor faults", "{:.0f}")]
RATIO_METRICS = [("wall", "wall"), ("cpu", "CPU"), ("rss", "peak RSS")]


class Result:
    def __init__(self, key, framing, tools):
        self.key = key
        self.framing = framing
        self.tools = tools
        self.samples = {tool: [] for tool in tools}

    def title(self):
        n = len(next(iter(self.samples.values())))
        return f"{SIZE_LABELS[self.key]}, {FRAMING_LABELS[self.framing]} (N = {n})"

    def values(self, tool, metric):
        return [getattr(s, metric) for s in self.samples[tool]]

    def ratios(self, a, b, metric):
        return [getattr(x, metric) / getattr(y, metric)
                for x, y in zip(self.samples[a], self.samples[b]) if getattr(y, metric) > 0]

    def pairs(self):
        pairs = [("httpget", "curl"), ("window", "httpget")]
        if "curl+fsync" in self.tools:
            pairs.insert(1, ("httpget", "curl+fsync"))
        if "python" in self.tools:
            pairs.append(("window", "python"))
        if "httpget-base" in self.tools:
            pairs += [("httpget-base", "curl"), ("httpget", "httpget-base")]
        if "window-base" in self.tools:
            if "python" in self.tools:
                pairs.append(("window-base", "python"))
            pairs.append(("window", "window-base"))
        return pairs

    def table(self):
        header = ["tool"] + [label for _, label, _ in METRICS]
        rows = [[tool] + [cell(self.values(tool, m), fmt) for m, _, fmt in METRICS]
                for tool in self.tools]
        ratio_header = ["ratio (pair by pair)"] + [label for _, label in RATIO_METRICS]
        ratio_rows = [[f"{a}/{b}"] + [cell(self.ratios(a, b, m), "{:.2f}") for m, _ in RATIO_METRICS]
                      for a, b in self.pairs()]
        return header, rows, ratio_header, ratio_rows


def text_table(header, rows):
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    lines = ["  ".join(str(v).ljust(w) for v, w in zip(header, widths)).rstrip()]
    lines.append("  ".join("-" * w for w in widths))
    lines += ["  ".join(str(v).ljust(w) for v, w in zip(r, widths)).rstrip() for r in rows]
    return "\n".join(lines)


def markdown_table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(str(v) for v in r) + " |" for r in rows]
    return "\n".join(lines)


def goals(results):
    """(text, met) per goal that the measured sizes cover."""
    checks = []
    for r in results:
        size = SIZES[r.key]
        label = f"{SIZE_LABELS[r.key]}, {r.framing}"
        if r.key in ("64m", "1g"):
            wall = median(r.ratios("httpget", "curl", "wall"))
            cpu = median(r.ratios("httpget", "curl", "cpu"))
            note = ""
            if "curl+fsync" in r.tools:
                flushed = median(r.ratios("httpget", "curl+fsync", "wall"))
                note = f"; against curl with the same flush {flushed:.2f}"
            checks.append((f"{label}: httpget wall ≤ {HTTPGET_WALL_GOAL:.2f} × curl "
                           f"(median pair ratio {wall:.2f}{note})", wall <= HTTPGET_WALL_GOAL))
            checks.append((f"{label}: httpget CPU ≤ {HTTPGET_CPU_GOAL:.2f} × curl "
                           f"(median pair ratio {cpu:.2f})", cpu <= HTTPGET_CPU_GOAL))
        rss = max(r.values("httpget", "rss"))
        checks.append((f"{label}: httpget peak RSS < {HTTPGET_RSS_GOAL_MIB} MiB "
                       f"(max {rss:.1f} MiB)", rss < HTTPGET_RSS_GOAL_MIB))
        if "python" in r.tools:
            wall = median(r.ratios("window", "python", "wall"))
            checks.append((f"{label}: window wall ≤ Python reference "
                           f"(median pair ratio {wall:.2f})", wall <= 1.0))
            factor = 1.0 if r.framing == "length" else 1.5
            limit = factor * size / MIB + WINDOW_SLACK_MIB
            rss = max(r.values("window", "rss"))
            checks.append((f"{label}: window peak RSS ≤ {factor:g} × body + {WINDOW_SLACK_MIB} MiB"
                           f" = {limit:.0f} MiB (max {rss:.1f} MiB)", rss <= limit))
    return checks


def first_touch_table(tools, size_mib, runs):
    programs = [("", tools.first_touch)]
    if tools.baseline_dir:
        programs.append((" (base)", os.path.join(tools.baseline_dir, "bench", "bench_first_touch")))
    samples = {(mode, name): [] for mode in ("sized", "grown") for name, _ in programs}
    # Alternating, like the downloads.
    for _ in range(runs):
        for mode in ("sized", "grown"):
            for name, program in programs:
                samples[(mode, name)].append(measure([program, str(size_mib), mode], tools.log_file))
    rows = [[f"{size_mib} MiB {mode}{name}"] +
            [cell([getattr(s, m) for s in values], fmt) for m, _, fmt in METRICS]
            for (mode, name), values in samples.items()]
    return ["buffer fill"] + [label for _, label, _ in METRICS], rows


# --- Machine facts ---------------------------------------------------------------------------

def read_first(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return "?"


def machine_facts(nginx_binary):
    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    mem_kib = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal"):
                mem_kib = int(line.split()[1])
    nginx_version = subprocess.run([nginx_binary, "-v"], capture_output=True, text=True).stderr
    curl_version = subprocess.run(["curl", "--version"], capture_output=True, text=True).stdout
    return [
        ("CPU", f"{cpu}, {os.cpu_count()} logical CPUs"),
        ("memory", f"{mem_kib / 1024 / 1024:.1f} GiB"),
        ("kernel", platform.release()),
        ("THP enabled", read_first("/sys/kernel/mm/transparent_hugepage/enabled")),
        ("THP defrag", read_first("/sys/kernel/mm/transparent_hugepage/defrag")),
        ("load average at start", read_first("/proc/loadavg")),
        ("nginx", nginx_version.strip()),
        ("curl", curl_version.splitlines()[0] if curl_version else "?"),
        ("python", platform.python_version()),
    ]


# --- Main ------------------------------------------------------------------------------------

def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--data-dir", default="/tmp/kavora-bench-data",
                        help="generated files, kept between runs")
    parser.add_argument("--out-dir", default=None, help="downloaded files (default: DATA/out)")
    parser.add_argument("--markdown", default=None, help="markdown copy of the tables")
    parser.add_argument("--sizes", default="1m,64m,1g")
    parser.add_argument("--framings", default="length,chunked")
    parser.add_argument("--runs", type=int, default=5, help="runs per tool for 1 MiB and 64 MiB")
    parser.add_argument("--runs-large", type=int, default=3, help="runs per tool for 1 GiB")
    parser.add_argument("--nginx", default="/usr/sbin/nginx")
    parser.add_argument("--pid-file", default=None, help="nginx's PID is written here")
    parser.add_argument("--no-first-touch", action="store_true")
    parser.add_argument("--no-curl-fsync", action="store_true",
                        help="leave out curl followed by a flush of its file (for comparison)")
    parser.add_argument("--baseline-build", default=None,
                        help="a build of an earlier state: its httpget and window path run as "
                             "httpget-base and window-base, for before/after figures")
    args = parser.parse_args()

    sizes = [s for s in args.sizes.split(",") if s]
    framings = [f for f in args.framings.split(",") if f]
    for s in sizes:
        if s not in SIZES:
            parser.error(f"unknown size {s}")
    for f in framings:
        if f not in FRAMINGS:
            parser.error(f"unknown framing {f}")
    out_dir = args.out_dir or os.path.join(args.data_dir, "out")
    os.makedirs(out_dir, exist_ok=True)
    pid_file = args.pid_file or os.path.join(args.data_dir, "nginx.pid")

    empty = generate_files(args.data_dir, sizes)
    baseline = os.path.abspath(args.baseline_build) if args.baseline_build else None
    tools = Tools(os.path.abspath(args.build_dir), here, out_dir, baseline)
    facts = machine_facts(args.nginx)
    nginx = Nginx(args.nginx, os.path.abspath(args.data_dir), sizes, empty, pid_file)

    def on_signal(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGTERM, on_signal)
    results = []
    try:
        nginx.start()
        for key in sizes:
            for framing in framings:
                tool_list = ["httpget", "curl", "window"] + (["python"] if key == "1g" else [])
                if not args.no_curl_fsync:
                    tool_list.insert(2, "curl+fsync")
                if baseline:
                    tool_list += ["httpget-base", "window-base"]
                runs = args.runs_large if key == "1g" else args.runs
                result = Result(key, framing, tool_list)
                source = os.path.join(args.data_dir, key) + INSTALLER_PATH
                log(f"{SIZE_LABELS[key]}, {framing}: warm-up")
                for tool in tool_list:
                    tools.run(tool, nginx, key, framing, source, verify=True)
                for i in range(runs):
                    # Alternate the order, so that no tool always follows the same one.
                    order = tool_list if i % 2 == 0 else list(reversed(tool_list))
                    for tool in order:
                        sample = tools.run(tool, nginx, key, framing, source)
                        result.samples[tool].append(sample)
                        log(f"  run {i + 1}/{runs} {tool:8} wall {sample.wall:.3f} s  cpu "
                            f"{sample.cpu:.3f} s  rss {sample.rss:.1f} MiB")
                results.append(result)
    finally:
        nginx.stop()

    touch = None
    if not args.no_first_touch and "1g" in sizes:
        log("first touch of a 1 GiB buffer")
        touch = first_touch_table(tools, 1024, args.runs_large)

    # Output.
    stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    text = [f"Download benchmark, {stamp}", ""]
    md = [f"# Download benchmark, {stamp}", "", "Cells: median [min–max] over the runs.", ""]
    md += ["| machine | |", "|---|---|"] + [f"| {k} | {v} |" for k, v in facts] + [""]
    text += [f"{k}: {v}" for k, v in facts] + [""]
    for r in results:
        header, rows, ratio_header, ratio_rows = r.table()
        text += [r.title(), text_table(header, rows), "", text_table(ratio_header, ratio_rows), ""]
        md += [f"## {r.title()}", "", markdown_table(header, rows), "",
               markdown_table(ratio_header, ratio_rows), ""]
    if touch is not None:
        text += ["Filling a 1 GiB TIdMemoryStream in 32 KiB writes, no transfer",
                 text_table(*touch), ""]
        md += ["## Filling a 1 GiB TIdMemoryStream in 32 KiB writes, no transfer", "",
               markdown_table(*touch), ""]
    checks = goals(results)
    text.append("Goals")
    md += ["## Goals", ""]
    for line, met in checks:
        text.append(f"  {'met   ' if met else 'MISSED'}  {line}")
        md.append(f"- {'met' if met else '**missed**'}: {line}")
    print("\n".join(text))
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write("\n".join(md) + "\n")
        log(f"markdown written to {args.markdown}")
    return 0 if all(met for _, met in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
