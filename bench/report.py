#!/usr/bin/env python3
"""Runs the benchmarks of scripts/bench and prints one table of ratios.

Micro rows come from pex_bench (repetitions interleaved at random, CPU time
per iteration); each ratio is ours/peer per repetition, shown as the median
with the spread min..max. Whole-program rows drive zorv-host on a demo
workspace in a temporary folder: requests per second against a static route
of the same HTTP server library, and a 100 MB replay download through the
plug-in against curl fetching the same file.
"""
import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

# (label, ours, peer, target, field): field "cpu_time" compares time per
# iteration, any other a counter of the benchmark.
MICRO_ROWS = [
    ("JSON 640 KB -> tree / Document::Parse", "JsonRead_Ours", "JsonRead_Document", "<= 1.0", "cpu_time"),
    ("JSON 640 KB -> tree / Reader, null handler", "JsonRead_Ours", "JsonRead_Reader", "", "cpu_time"),
    ("JSON 640 KB: bytes held, tree / Document", "JsonRead_Ours", "JsonRead_Document", "", "tree_bytes"),
    ("metadata 93 B -> tree / Document::Parse", "MetadataRead_Ours", "MetadataRead_Document", "<= 1.0", "cpu_time"),
    ("metadata 93 B -> tree / Reader, null handler", "MetadataRead_Ours", "MetadataRead_Reader", "", "cpu_time"),
    ("metadata 93 B: bytes held, tree / Document", "MetadataRead_Ours", "MetadataRead_Document", "", "tree_bytes"),
    ("MessagePack -> tree / msgpack-c unpack", "MsgPackRead_Ours", "MsgPackRead_Unpack", "<= 1.0", "cpu_time"),
    ("tree -> JSON text / RapidJSON Writer", "JsonWrite_Ours", "JsonWrite_Writer", "<= 0.8", "cpu_time"),
    ("YAML 205 KB -> tree / libyaml event loop", "YamlRead_Ours", "YamlRead_LibyamlEvents", "<= 1.1", "cpu_time"),
    ("YAML 205 KB -> tree / yaml-cpp Load", "YamlRead_Ours", "YamlRead_YamlCpp", "", "cpu_time"),
    ("log call filtered out / level check", "LogFiltered_Ours", "LogFiltered_LevelCheck", "<= 1.5", "cpu_time"),
    ("log call filtered out / spdlog", "LogFiltered_Ours", "LogFiltered_Spdlog", "", "cpu_time"),
    ("formatted log, target drops / spdlog null sink", "LogFormatted_Ours", "LogFormatted_Spdlog", "<= 1.0", "cpu_time"),
    ("formatted log, target drops / snprintf alone", "LogFormatted_Ours", "LogFormatted_Snprintf", "", "cpu_time"),
    ("scan 10,000 replays / open+3 reads+close+parse", "Scan_Ours", "Scan_Floor", "<= 1.2", "cpu_time"),
]

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def spread(values):
    return statistics.median(values), min(values), max(values)


def fmt_row(label, values, target, unit="x"):
    if not values:
        return f"{label:<50} {'(no figure)':>8}"
    median, low, high = spread(values)
    return (f"{label:<50} {median:8.2f}{unit:<3} {low:7.2f} .. {high:<7.2f} "
            f"{target:>7}")


def run_micro(build, repetitions, min_time, out):
    result = os.path.join(out, "pex_bench.json")
    # Interleaving runs the repetitions in rounds; the first round is a warm-up
    # (first touches of the heap and of the inputs' pages) and is dropped.
    subprocess.run([os.path.join(build, "bench", "pex_bench"),
                    f"--benchmark_repetitions={repetitions + 1}",
                    "--benchmark_enable_random_interleaving=true",
                    f"--benchmark_min_time={min_time}",
                    "--benchmark_out_format=json", f"--benchmark_out={result}"],
                   check=True, stdout=subprocess.DEVNULL,
                   stderr=open(os.path.join(out, "pex_bench.log"), "w"))
    runs = {}
    for b in json.load(open(result))["benchmarks"]:
        if (b.get("run_type") != "iteration" or b.get("error_occurred")
                or b.get("repetition_index", 0) == 0):
            continue
        name = b["run_name"].removeprefix("BM_")
        value = dict(b)
        value["cpu_time"] = b["cpu_time"] * UNIT_NS[b["time_unit"]]
        runs.setdefault(name, {})[b.get("repetition_index", 0)] = value
    return runs


def micro_table(runs):
    lines = []
    for label, ours, peer, target, field in MICRO_ROWS:
        a, b = runs.get(ours, {}), runs.get(peer, {})
        ratios = [a[i][field] / b[i][field] for i in sorted(a) if i in b and b[i].get(field)]
        lines.append(fmt_row(label, ratios, target))
    invoke = [r["cpu_time"] / 1e3 for r in runs.get("InvokeMetadata", {}).values()]
    lines.append(fmt_row("GET metadata/{gameId} through the ABI, per call", invoke, "", "us"))
    return lines


class Process:
    """A child process in its own group, stopped with SIGTERM (SIGKILL if it lingers)."""

    def __init__(self, args, log, env=None):
        self.log = open(log, "w")
        self.proc = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT, env=env,
                                     start_new_session=True)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.02)
    raise RuntimeError(f"timed out waiting for {what}")


def start_zorv(build, workspace, out, name):
    env = dict(os.environ, XDG_DOCUMENTS_DIR=os.path.join(workspace, "Documents"))
    proc = Process([os.path.join(build, "tools", "zorv-host", "zorv-host"), "--demo", workspace,
                    "--port", "0"], os.path.join(out, name + ".log"), env)
    lock_path = os.path.join(workspace, "zorv-host.lock")

    def lock():
        try:
            data = json.load(open(lock_path))
        except (OSError, ValueError):
            return None
        if proc.proc.poll() is not None:
            raise RuntimeError(f"zorv-host exited; see {out}/{name}.log")
        return data if data.get("pid") == proc.proc.pid else None

    data = wait_for(lock, 60, "zorv-host's lock file")
    return proc, data["port"], data.get("token", "")


def start_static(build, out):
    proc = subprocess.Popen([os.path.join(build, "bench", "bench_static_server"), "0"],
                            stdout=subprocess.PIPE, text=True, start_new_session=True)
    line = proc.stdout.readline().split()
    return proc, int(line[1])


def load(build, port, path, threads, requests, token=""):
    args = [os.path.join(build, "bench", "bench_load"), str(port), path, str(threads),
            str(requests)] + ([token] if token else [])
    done = subprocess.run(args, check=True, capture_output=True, text=True).stdout.split()
    return float(done[done.index("rps") + 1])


def call(port, token, method, path, body=None):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", method=method,
                                     data=body.encode() if body is not None else None)
    if token:
        request.add_header("Authorization", f"Bearer {token}")
    if body is not None:
        request.add_header("Content-Type", "application/json")
    with urllib.request.urlopen(request, timeout=30) as answer:
        return json.loads(answer.read() or b"null")


def vm_hwm(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) * 1024
    return 0


def requests_per_second(build, workspace, repetitions, threads, requests, out):
    """zorv-host's plug-in route against a static route of the same HTTP server library."""
    zorv, port, token = start_zorv(build, workspace, out, "zorv-host-rps")
    static, static_port = start_static(build, out)
    try:
        load(build, port, "/pex-replays/v1/metadata/5001", threads, requests // 10, token)
        load(build, static_port, "/static", threads, requests // 10)
        ratios = []
        for _ in range(repetitions):
            ours = load(build, port, "/pex-replays/v1/metadata/5001", threads, requests, token)
            peer = load(build, static_port, "/static", threads, requests)
            ratios.append(ours / peer)
    finally:
        static.send_signal(signal.SIGTERM)
        static.wait()
        zorv.stop()
    return [fmt_row(f"HTTP GET metadata/5001 / static route, rps, {threads} conn.", ratios,
                    ">= 0.8")]


class MetadataStates:
    """Follows zorv-host's event stream and remembers each game's newest metadata state.

    Waiting on the stream sees a state the moment the plug-in publishes it, without the
    delay of a polling interval and without polling requests that compete with the
    download for the host's thread."""

    PREFIX = "/pex-replays/v1/metadata/"

    def __init__(self, port, token):
        request = urllib.request.Request(f"http://127.0.0.1:{port}/events")
        if token:
            request.add_header("Authorization", f"Bearer {token}")
        self.stream = urllib.request.urlopen(request, timeout=600)
        self.states = {}
        self.changed = threading.Condition()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        try:
            for raw in self.stream:
                line = raw.decode("utf-8", "replace").rstrip("\r\n")
                if not line.startswith("data: "):
                    continue
                event = json.loads(line[len("data: "):])
                uri = event.get("uri", "")
                data = event.get("data")
                if not uri.startswith(self.PREFIX) or not isinstance(data, dict):
                    continue
                with self.changed:
                    self.states[uri[len(self.PREFIX):]] = data.get("state")
                    self.changed.notify_all()
        except (OSError, ValueError, AttributeError):
            pass  # the stream closed (AttributeError: closed while a chunk was read)
        with self.changed:
            self.states[None] = "closed"
            self.changed.notify_all()

    def wait(self, game, seconds):
        """Waits until the game's state is "watch"; raises on a final failed state."""
        failed = ("error", "missingOrExpired", "incompatible", "lost", "unsupported")
        deadline = time.monotonic() + seconds
        with self.changed:
            while True:
                if self.states.get(None) == "closed":
                    raise RuntimeError("zorv-host's event stream closed")
                state = self.states.get(str(game))
                if state == "watch":
                    return
                if state in failed:
                    raise RuntimeError(f"game {game} went to state {state}")
                left = deadline - time.monotonic()
                if left <= 0:
                    raise RuntimeError(f"timed out waiting for game {game} to be downloaded")
                self.changed.wait(left)

    def close(self):
        self.stream.close()


def download(build, workspace, top, repetitions, size, out):
    """A replay on the simulated server, downloaded through the plug-in and by curl -o."""
    # zorv-host makes the demo workspace on its first start; the server looks its files up
    # on each request, so they may come afterwards.
    zorv, port, token = start_zorv(build, workspace, out, "zorv-host-download")
    times, memory, raw = [], [], []
    try:
        server = os.path.join(workspace, "server")
        first = os.path.join(server, "NA1-7001.trec")
        subprocess.run([os.path.join(build, "tools", "trec", "trec"), "make", first,
                        "--game-version", "14.3.512.7781", "--body-size", str(size)],
                       check=True, stdout=subprocess.DEVNULL)
        file_size = os.path.getsize(first)
        # One name per repetition: each download is a new game for the plug-in.
        for i in range(1, repetitions):
            os.link(first, os.path.join(server, f"NA1-{7001 + i}.trec"))
        states = MetadataStates(port, token)
        try:
            for i in range(repetitions):
                game = 7001 + i
                with open(f"/proc/{zorv.proc.pid}/clear_refs", "w") as refs:
                    refs.write("5")  # the peak resident size starts again from now
                start = time.monotonic()
                call(port, token, "POST", f"/pex-replays/v1/trecs/{game}/download",
                     '{"componentType":"cli"}')
                states.wait(game, 300)
                ours = time.monotonic() - start
                memory.append(vm_hwm(zorv.proc.pid) / file_size)

                target = os.path.join(top, "curl.trec")
                start = time.monotonic()
                subprocess.run(["curl", "-sS", "-o", target,
                                f"http://127.0.0.1:{port}/zorv-host/v1/server/files/NA1-{game}.trec"],
                               check=True)
                peer = time.monotonic() - start
                os.remove(target)
                times.append(ours / peer)
                raw.append({"game": game, "plugin_s": ours, "curl_s": peer,
                            "vm_hwm_bytes": memory[-1] * file_size})
        finally:
            states.close()
    finally:
        zorv.stop()
        with open(os.path.join(out, "download.json"), "w") as dump:
            json.dump(raw, dump, indent=1)
    mib = file_size / 2**20
    return [fmt_row(f"download {mib:.0f} MiB via plug-in / curl -o, time", times, "<= 1.3"),
            fmt_row(f"download {mib:.0f} MiB: zorv-host peak RSS / file size", memory, "<= 2.2")]


def whole_program(build, repetitions, downloads, threads, requests, size, out, rps=True,
                  download_rows=True):
    top = tempfile.mkdtemp(prefix="pex_bench_")
    workspace = os.path.join(top, "ws")
    try:
        lines = []
        if rps:
            lines += requests_per_second(build, workspace, repetitions, threads, requests, out)
        if download_rows:
            lines += download(build, workspace, top, downloads, size, out)
        return lines
    finally:
        shutil.rmtree(top, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--repetitions", type=int, default=7)
    parser.add_argument("--min-time", default="0.2")
    parser.add_argument("--threads", type=int, default=4)
    parser.add_argument("--requests", type=int, default=20000)
    parser.add_argument("--download-bytes", type=int, default=100 * 1024 * 1024)
    parser.add_argument("--skip-programs", action="store_true",
                        help="only the pex_bench rows, without zorv-host")
    parser.add_argument("--only", choices=["micro", "programs", "rps", "download"],
                        help="only the pex_bench rows, only the zorv-host rows, only the "
                             "requests-per-second row or only the two download rows")
    parser.add_argument("--program-repetitions", type=int,
                        help="repetitions of the requests-per-second row (default: half of "
                             "--repetitions, plus one)")
    parser.add_argument("--download-repetitions", type=int,
                        help="downloads per run (default: 9; one download's time varies "
                             "a lot on a virtual machine, and each takes well under a second)")
    args = parser.parse_args()
    if args.skip_programs and args.only in ("programs", "rps", "download"):
        parser.error(f"--skip-programs contradicts --only {args.only}")

    out = tempfile.mkdtemp(prefix="pex_bench_out_")
    program_repetitions = args.program_repetitions or max(1, args.repetitions // 2 + 1)
    lines = []
    if args.only in (None, "micro"):
        lines += micro_table(run_micro(args.build, args.repetitions, args.min_time, out))
    if args.only != "micro" and not args.skip_programs:
        lines += whole_program(args.build, program_repetitions,
                               args.download_repetitions or 9, args.threads,
                               args.requests, args.download_bytes, out,
                               rps=args.only in (None, "programs", "rps"),
                               download_rows=args.only in (None, "programs", "download"))
    print(f"{'ratio ours / peer (CPU time per op unless said)':<50} {'median':>11} "
          f"{'min .. max':>17} {'target':>7}")
    for line in lines:
        print(line)
    print(f"(raw results and logs: {out})")


if __name__ == "__main__":
    sys.exit(main())
