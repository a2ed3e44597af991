#!/usr/bin/env python3
"""Start-up and memory benchmark: orvexbrowser against the bare-engine floor.

Each round runs the floor program and the browser alternately (the order flips
every round) under one Xvfb, each run with fresh XDG folders, a fake `ip` that
reports a tunnel, and pages served from 127.0.0.1 by this script. A page
reports its own onload by requesting /loaded?tab=N; the driver takes the wall
time of that request relative to the moment it started the process.

Memory footprint: over the whole process tree (browser + every engine helper),
the sum of Private_Clean + Private_Dirty of every mapping, plus the shared
pages (Shared_Clean + Shared_Dirty) of each distinct mapping counted once.
A file-backed mapping is identified by (device, inode, offset, size), so a
shared library or a memfd mapped by several processes counts once; an
anonymous shared mapping (fork copy-on-write, e.g. the zygote's children) by
(address range, name). Pages shared with processes outside the tree count
too, the same for both programs. This needs no pagemap and is stabler than
PSS on a shared machine; PSS (smaps_rollup) is reported beside it.

Ratios are taken within each round (browser / floor of the same round), then
the median over the rounds is reported. Standard library only.

The browser runs with its filter lists on: the shipped EasyList/EasyPrivacy
snapshot of the build folder stands in for subscriptions whose addresses
point at a closed loopback port (no request leaves the machine), and the
compiled lists are kept in a cache folder shared by the browser's runs, as a
returning user has it (--first-start compiles them in every run instead).
Pages are served as http://bench.localhost:<port>/ (Chromium resolves
*.localhost to loopback): the lists switch their generic element hiding off
for 127.0.0.1 and localhost, not for other names. --engine-memory N adds N
pairs of one-tab runs with and without the lists and reports what the lists
add to the browser's own process.
"""

import argparse
import http.server
import json
import os
import random
import shutil
import signal
import socketserver
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib
from urllib.parse import parse_qs, urlparse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CHROMIUM_FLAGS = "--disable-gpu --no-sandbox --disable-background-networking --disable-component-update"

BUDGETS = {
    "start_1tab_s": 1.10,
    "load_10tabs_s": 1.15,
    "footprint_1tab_mb": 1.10,
    "footprint_10tabs_mb": 1.12,
}

# ---------------------------------------------------------------- content

def png(width, height, seed):
    """A noisy RGB PNG (poorly compressible, like a photo)."""
    rng = random.Random(seed)
    rows = []
    for y in range(height):
        row = bytearray([0])
        for x in range(width):
            base = (x * 3 + y * 5 + seed * 40) & 0xFF
            row += bytes(((base + rng.randrange(64)) & 0xFF,
                          (base * 2 + rng.randrange(64)) & 0xFF,
                          (255 - base + rng.randrange(64)) & 0xFF))
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def heavy_page():
    """About 750 elements, 180 CSS rules, one script, 8 images."""
    colors = ["#223", "#345", "#567", "#789", "#9ab", "#bcd", "#a53", "#3a5", "#53a"]
    css = []
    for i in range(180):
        kind = i % 6
        if kind == 0:
            css.append(f".c{i} {{ color: {colors[i % 9]}; margin: {i % 7}px; }}")
        elif kind == 1:
            css.append(f".c{i} > span {{ font-weight: {400 + (i % 5) * 100}; padding: {i % 5}px {i % 9}px; }}")
        elif kind == 2:
            css.append(f"section:nth-child({i % 30 + 1}) .c{i} {{ border: 1px solid {colors[i % 9]}; }}")
        elif kind == 3:
            css.append(f".c{i}:hover {{ background: {colors[(i + 3) % 9]}; }}")
        elif kind == 4:
            css.append(f"ul.c{i} li {{ display: flex; gap: {i % 4}px; line-height: 1.{i % 9}; }}")
        else:
            css.append(f"#s{i % 30} .c{i}, .c{i}::after {{ content: ''; border-radius: {i % 8}px; }}")
    body = ['<header class="c0"><h1>Benchmark page</h1><nav>']
    for i in range(20):
        body.append(f'<a class="c{i % 180}" href="#s{i % 30}">Link {i}</a>')
    body.append("</nav></header><main>")
    img = 0
    for s in range(30):
        body.append(f'<section id="s{s}" class="c{(s * 7) % 180}"><h2 class="c{s}">Section {s}</h2>')
        body.append(f'<p class="c{(s * 11) % 180}">Paragraph {s} with <span>some</span> '
                    f'<em>inline</em> <b>text</b> and <a href="#s{(s + 1) % 30}">a link</a>.</p>')
        body.append(f'<ul class="c{(s * 13) % 180}">')
        for j in range(4):
            body.append(f'<li class="c{(s + j) % 180}"><span>Item {s}.{j}</span> <i>detail</i></li>')
        body.append("</ul>")
        if s % 4 == 0 and img < 8:
            body.append(f'<img src="/img/pic{img}.png" width="128" height="128" alt="picture {img}">')
            img += 1
        body.append('<div class="c5"><span>a</span></div></section>')
    body.append("<table>")
    for r in range(8):
        body.append("<tr>" + "".join(f'<td class="c{(r * 5 + c) % 180}">{r}:{c}</td>' for c in range(6)) + "</tr>")
    body.append("</table></main><footer><p>End</p></footer>")
    script = """
const tab = new URLSearchParams(location.search).get('tab') || '0';
(function work() {
  const values = [];
  for (let i = 0; i < 5000; ++i) values.push((i * 7919) % 10007);
  values.sort((a, b) => a - b);
  document.querySelectorAll('li').forEach((li, i) => { li.dataset.rank = values[i]; });
  document.title = 'Benchmark page ' + tab + ' (' + document.getElementsByTagName('*').length + ')';
})();
window.addEventListener('load', () => {
  fetch('loaded?tab=' + tab + '&t=' + performance.now().toFixed(1), {cache: 'no-store'});
});
"""
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>Benchmark page</title><style>\n"
            + "\n".join(css) + "\n</style></head><body>\n" + "\n".join(body)
            + "\n<script>" + script + "</script></body></html>").encode()


class Server:
    """Loopback HTTP server: the page, its images, and the onload reports."""

    def __init__(self):
        self.page = heavy_page()
        self.images = {f"/img/pic{i}.png": png(128, 128, i) for i in range(8)}
        self.lock = threading.Lock()
        self.loaded = {}  # run id -> {tab: monotonic time of the onload report}
        self.requested = {}  # run id -> {tab: monotonic time of the page request}
        self.event = threading.Condition(self.lock)
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def reply(self, status, ctype, body):
                self.send_response(status)
                self.send_header("Content-Type", ctype)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_GET(self):
                now = time.monotonic()
                url = urlparse(self.path)
                # Paths: /r<run>/page, /r<run>/loaded, /img/...
                parts = url.path.split("/", 2)
                run = parts[1] if len(parts) > 2 and parts[1].startswith("r") else None
                rest = "/" + parts[2] if run else url.path
                if rest == "/loaded" and run:
                    q = parse_qs(url.query)
                    tab = int(q.get("tab", ["0"])[0])
                    with outer.lock:
                        outer.loaded.setdefault(run, {}).setdefault(tab, now)
                        outer.event.notify_all()
                    self.reply(204, "text/plain", b"")
                elif rest == "/page":
                    tab = int(parse_qs(url.query).get("tab", ["0"])[0])
                    with outer.lock:
                        outer.requested.setdefault(run, {}).setdefault(tab, now)
                    self.reply(200, "text/html; charset=utf-8", outer.page)
                elif url.path in outer.images:
                    self.reply(200, "image/png", outer.images[url.path])
                else:
                    self.reply(404, "text/plain", b"not found")

        class Threaded(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True

        self.httpd = Threaded(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def url(self, run, tab):
        # /img is shared by all runs; the page's own images come from /img.
        return f"http://bench.localhost:{self.port}/{run}/page?tab={tab}"

    def wait_loaded(self, run, tabs, deadline):
        with self.lock:
            while len(self.loaded.get(run, {})) < tabs:
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.event.wait(left)
            return dict(self.loaded[run])

    def stop(self):
        self.httpd.shutdown()


# ---------------------------------------------------------------- processes

def children_map():
    kids = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        ppid = int(stat.rsplit(")", 1)[1].split()[1])
        kids.setdefault(ppid, []).append(int(name))
    return kids


def process_tree(pid):
    kids = children_map()
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        out.append(p)
        todo.extend(kids.get(p, []))
    return out


def read_smaps(pid):
    """Yields (key, private_kb, shared_kb) per mapping."""
    try:
        with open(f"/proc/{pid}/smaps") as f:
            lines = f.read().splitlines()
    except OSError:
        return
    key, priv, shared = None, 0, 0
    for line in lines:
        first = line.split(None, 1)[0]
        if not first.endswith(":"):
            if key is not None:
                yield key, priv, shared
            fields = line.split(None, 5)
            start, end = fields[0].split("-")
            offset, dev, inode = fields[2], fields[3], int(fields[4])
            name = fields[5] if len(fields) > 5 else ""
            size = int(end, 16) - int(start, 16)
            key = ("f", dev, inode, offset, size) if inode else ("a", start, end, name)
            priv = shared = 0
        elif first in ("Private_Clean:", "Private_Dirty:"):
            priv += int(line.split()[1])
        elif first in ("Shared_Clean:", "Shared_Dirty:"):
            shared += int(line.split()[1])
    if key is not None:
        yield key, priv, shared


def pss_kb(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except OSError:
        return 0.0


def memory(pid):
    pids = process_tree(pid)
    private = 0
    shared = {}
    for p in pids:
        for key, priv, sh in read_smaps(p):
            private += priv
            if sh:
                shared[key] = max(shared.get(key, 0), sh)
    footprint = private + sum(shared.values())
    return {"processes": len(pids), "footprint_mb": footprint / 1024.0,
            "cpu_s": sum(cpu_seconds(p) for p in pids), "cpu_main_s": cpu_seconds(pid),
            "pss_mb": sum(pss_kb(p) for p in pids) / 1024.0}


def process_memory(pid):
    """The main process alone: its private pages plus the shared ones it maps."""
    private = shared = 0
    for _, priv, sh in read_smaps(pid):
        private += priv
        shared += sh
    return {"private_mb": private / 1024.0, "footprint_mb": (private + shared) / 1024.0, "pss_mb": pss_kb(pid) / 1024.0}


def stop_tree(proc):
    pids = process_tree(proc.pid)
    try:
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        pass
    for p in pids:  # only the processes this run started
        try:
            os.kill(p, signal.SIGKILL)
        except OSError:
            pass
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        pass


def loadavg():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


class Xvfb:
    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1920x1080x24",
                                      "-nolisten", "tcp"], pass_fds=(w,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            self.display = ":" + f.readline().strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


# ---------------------------------------------------------------- runs

# The browser's subscriptions: the snapshot stands in for lists of these file
# names; their addresses are a closed loopback port, so updates fail at once.
BENCH_LISTS = [{"url": "http://127.0.0.1:9/easylist.txt"}, {"url": "http://127.0.0.1:9/easyprivacy.txt"}]


def run_once(kind, exe, tabs, server, display, fakebin, run_id, settle, timeout, keep_logs, settings=None,
             lists=True, cache=None):
    home = tempfile.mkdtemp(prefix=f"orvexbench-{kind}-")
    env = dict(os.environ)
    for var, sub in (("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                     ("XDG_CACHE_HOME", "cache"), ("TMPDIR", "tmp")):
        os.makedirs(os.path.join(home, sub))
        env[var] = os.path.join(home, sub)
    if cache:
        env["XDG_CACHE_HOME"] = cache
    env.update({
        "DISPLAY": display,
        "QT_QPA_PLATFORM": "xcb",
        "PATH": fakebin + ":" + env.get("PATH", "/usr/bin:/bin"),
        "QTWEBENGINE_DISABLE_SANDBOX": "1",
        "QTWEBENGINE_CHROMIUM_FLAGS": CHROMIUM_FLAGS,
    })
    env.pop("XDG_RUNTIME_DIR", None)
    urls = [server.url(run_id, t) for t in range(tabs)]
    args = [exe]
    if kind == "floor":
        args += urls
    else:
        folder = os.path.join(env["XDG_CONFIG_HOME"], "orvexbrowser")
        os.makedirs(folder)
        with open(os.path.join(folder, "session.json"), "w") as f:
            json.dump([{"url": u, "title": f"Tab {i}", "pinned": False} for i, u in enumerate(urls)], f)
        if settings:
            with open(os.path.join(folder, "settings.json"), "w") as f:
                json.dump(settings, f)
        with open(os.path.join(folder, "filterlists.json"), "w") as f:
            json.dump({"lists": BENCH_LISTS if lists else []}, f)
    log = open(os.path.join(home, "output.log"), "w")
    load_before = loadavg()
    t0 = time.monotonic()
    proc = subprocess.Popen(args, env=env, stdout=log, stderr=subprocess.STDOUT, cwd=home)
    try:
        loaded = server.wait_loaded(run_id, tabs, t0 + timeout)
        if loaded is None:
            raise RuntimeError(f"{kind} with {tabs} tab(s) did not load within {timeout} s; see {home}/output.log")
        first = loaded[0] - t0
        last = max(loaded.values()) - t0
        with server.lock:
            requested = dict(server.requested.get(run_id, {}))
        first_request = min(requested.values()) - t0 if requested else float("nan")
        time.sleep(settle)
        mem = memory(proc.pid)
        main_mem = process_memory(proc.pid)
    finally:
        stop_tree(proc)
        log.close()
    if not keep_logs:
        shutil.rmtree(home, ignore_errors=True)
    return {"first_s": first, "all_s": last, "first_request_s": first_request, **mem, "main": main_mem,
            "load": (load_before + loadavg()) / 2}


def median(values):
    return statistics.median(values) if values else float("nan")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--settle", type=float, default=3.0, help="seconds after the last onload before memory")
    ap.add_argument("--timeout", type=float, default=90.0)
    ap.add_argument("--out", default=None, help="JSON file (default bench/results/startup-<time>.json)")
    ap.add_argument("--keep-logs", action="store_true")
    ap.add_argument("--micro", default=None, help="Google Benchmark JSON of orvex_microbench to judge too")
    ap.add_argument("--stall", default=None, help="JSON of orvex_stallprobe to judge too")
    ap.add_argument("--settings", default=None,
                    help="JSON object written as the browser's settings.json (diagnosis: switch features off)")
    ap.add_argument("--first-start", action="store_true",
                    help="compile the filter lists in every browser run (no cache kept between runs)")
    ap.add_argument("--no-lists", action="store_true", help="the browser without filter lists (diagnosis)")
    ap.add_argument("--engine-memory", type=int, default=0, metavar="N",
                    help="N pairs of 1-tab browser runs with and without the lists: memory the lists add")
    opts = ap.parse_args()

    floor_exe = os.path.join(opts.build, "bench", "orvex_floor")
    product_exe = os.path.join(opts.build, "orvexbrowser")
    for exe in (floor_exe, product_exe):
        if not os.access(exe, os.X_OK):
            sys.exit(f"missing {exe}: build with -DORVEX_BUILD_BENCH=ON first")

    fakebin = tempfile.mkdtemp(prefix="orvexbench-bin-")
    capture = os.path.join(ROOT, "tests/data/ip-link/openvpn-tun-up")
    with open(os.path.join(fakebin, "ip"), "w") as f:
        f.write('#!/bin/sh\ncase " $* " in *" -json "*) cat \'%s.json\' ;; *) cat \'%s.txt\' ;; esac\n' % (capture, capture))
    # The other VPN tools too, so nothing can reach the host's real ones.
    for tool, code in (("kill", 1), ("pkexec", 126), ("openvpn", 0), ("wg-quick", 0)):
        with open(os.path.join(fakebin, tool), "w") as f:
            f.write(f"#!/bin/sh\nexit {code}\n")
    for tool in ("ip", "kill", "pkexec", "openvpn", "wg-quick"):
        os.chmod(os.path.join(fakebin, tool), 0o755)

    server = Server()
    xvfb = Xvfb()
    exes = {"floor": floor_exe, "orvex": product_exe}
    rounds = []
    counter = [0]
    # The compiled lists, kept from run to run as for a returning user.
    list_cache = None if opts.first_start else tempfile.mkdtemp(prefix="orvexbench-cache-")

    def run(kind, tabs, lists=not opts.no_lists):
        counter[0] += 1
        return run_once(kind, exes[kind], tabs, server, xvfb.display, fakebin, f"r{counter[0]}",
                        opts.settle, opts.timeout, opts.keep_logs,
                        json.loads(opts.settings) if opts.settings and kind == "orvex" else None,
                        lists=lists, cache=list_cache if kind == "orvex" else None)

    try:
        print(f"page {len(server.page)} bytes, Xvfb {xvfb.display}, load {loadavg():.2f}", flush=True)
        # Warm the file cache so no run pays for the first read of the libraries.
        run("floor", 1)
        run("orvex", 1)
        for r in range(opts.rounds):
            order = ["floor", "orvex"] if r % 2 == 0 else ["orvex", "floor"]
            result = {}
            for tabs in (1, 10):
                for kind in order:
                    result[f"{kind}_{tabs}"] = run(kind, tabs)
            rounds.append(result)
            f1, o1, f10, o10 = (result[k] for k in ("floor_1", "orvex_1", "floor_10", "orvex_10"))
            print(f"round {r + 1}: start {f1['first_s']:.3f}/{o1['first_s']:.3f} s, "
                  f"10 tabs {f10['all_s']:.3f}/{o10['all_s']:.3f} s, "
                  f"footprint {f1['footprint_mb']:.0f}/{o1['footprint_mb']:.0f} and "
                  f"{f10['footprint_mb']:.0f}/{o10['footprint_mb']:.0f} MB, "
                  f"load {o10['load']:.2f}", flush=True)
        engine_memory = []
        for r in range(opts.engine_memory):
            pair = {}
            for lists in ((True, False) if r % 2 == 0 else (False, True)):
                pair["with" if lists else "without"] = run("orvex", 1, lists=lists)["main"]
            engine_memory.append(pair)
            print(f"engine memory {r + 1}: main process {pair['with']['private_mb']:.1f} MB private with the lists, "
                  f"{pair['without']['private_mb']:.1f} MB without", flush=True)
    finally:
        xvfb.stop()
        server.stop()
        shutil.rmtree(fakebin, ignore_errors=True)
        if list_cache:
            shutil.rmtree(list_cache, ignore_errors=True)

    metrics = [
        ("start_1tab_s", "cold start to onload (1 tab)", "s", 1, "first_s"),
        ("load_10tabs_s", "10 restored tabs loaded", "s", 10, "all_s"),
        ("request_1tab_s", "first page request (1 tab)", "s", 1, "first_request_s"),
        ("request_10tabs_s", "first page request (10 tabs)", "s", 10, "first_request_s"),
        ("footprint_1tab_mb", "footprint, 1 tab", "MB", 1, "footprint_mb"),
        ("footprint_10tabs_mb", "footprint, 10 tabs", "MB", 10, "footprint_mb"),
        ("pss_1tab_mb", "PSS, 1 tab", "MB", 1, "pss_mb"),
        ("pss_10tabs_mb", "PSS, 10 tabs", "MB", 10, "pss_mb"),
        ("cpu_1tab_s", "CPU time of all processes, 1 tab", "s", 1, "cpu_s"),
        ("cpu_10tabs_s", "CPU time of all processes, 10 tabs", "s", 10, "cpu_s"),
        ("cpu_main_10tabs_s", "CPU time of the main process, 10 tabs", "s", 10, "cpu_main_s"),
        ("processes_10tabs", "processes, 10 tabs", "", 10, "processes"),
    ]
    summary = {}
    print()
    print(f"{'metric':34} {'floor':>9} {'orvex':>9} {'ratio':>7} {'budget':>7}  verdict")
    for key, label, unit, tabs, field in metrics:
        fl = [r[f"floor_{tabs}"][field] for r in rounds]
        ov = [r[f"orvex_{tabs}"][field] for r in rounds]
        ratios = [o / f for o, f in zip(ov, fl) if f]
        entry = {"floor_median": median(fl), "orvex_median": median(ov), "ratio_median": median(ratios),
                 "ratios": ratios, "unit": unit}
        budget = BUDGETS.get(key)
        verdict = ""
        if budget:
            entry["budget"] = budget
            entry["pass"] = entry["ratio_median"] <= budget
            verdict = "PASS" if entry["pass"] else "MISS"
        summary[key] = entry
        fmt = "{:9.3f}" if unit == "s" else "{:9.0f}"
        print(f"{label + (' (' + unit + ')' if unit else ''):34} {fmt.format(entry['floor_median'])} "
              f"{fmt.format(entry['orvex_median'])} {entry['ratio_median']:7.3f} "
              f"{(f'{budget:.2f}x' if budget else ''):>7}  {verdict}")
    loads = [r[k]["load"] for r in rounds for k in r]
    print(f"\n{len(rounds)} rounds; 1-min load average during the runs: median {median(loads):.2f}, "
          f"max {max(loads):.2f} on {os.cpu_count()} cores")

    extra = {}
    if engine_memory:
        added = [p["with"]["private_mb"] - p["without"]["private_mb"] for p in engine_memory]
        added_pss = [p["with"]["pss_mb"] - p["without"]["pss_mb"] for p in engine_memory]
        extra["engine_memory"] = {"private_added_mb": median(added), "pss_added_mb": median(added_pss),
                                  "budget_mb": 30, "pass": median(added) <= 30, "pairs": engine_memory}
        print(f"\nfilter lists in the browser process: +{median(added):.1f} MB private, +{median(added_pss):.1f} MB PSS "
              f"(budget 30 MB): {'PASS' if median(added) <= 30 else 'MISS'}")
    if opts.micro and os.path.exists(opts.micro):
        with open(opts.micro) as f:
            micro = json.load(f)
        medians = {b["run_name"]: b for b in micro["benchmarks"] if b.get("aggregate_name") == "median"}
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
        print(f"\n{'micro-benchmark (median)':46} {'time':>12}  budget      verdict")
        budgets = {"BM_InterceptorDecide": 2.0, "BM_InterceptorEvaluate": 5.0, "BM_AddHistoryFull": 5000.0}
        for name, b in medians.items():
            us = b["real_time"] * scale[b["time_unit"]]
            base = name.split("/")[0]
            budget = budgets.get(base)
            verdict = ("PASS" if us < budget else "MISS") if budget else ""
            extra[base] = {"median_us": us, "budget_us": budget, "pass": us < budget if budget else None}
            print(f"{base:46} {us:9.3f} us  {(f'<{budget:g} us' if budget else ''):10}  {verdict}")
    if opts.stall and os.path.exists(opts.stall):
        with open(opts.stall) as f:
            stall = json.load(f)
        worst = stall["worst_ours_ms"]
        extra["gui_stall"] = {"worst_ours_ms": worst, "budget_ms": 50, "pass": worst <= 50,
                              "phases": stall["phases"]}
        print(f"\nlongest GUI stall of our own: {worst:.1f} ms (budget 50 ms): {'PASS' if worst <= 50 else 'MISS'}")

    out = opts.out or os.path.join(HERE, "results", time.strftime("startup-%Y%m%d-%H%M%S.json"))
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out, "w") as f:
        json.dump({"date": time.strftime("%Y-%m-%d %H:%M:%S"), "cores": os.cpu_count(),
                   "chromium_flags": CHROMIUM_FLAGS, "page_bytes": len(server.page),
                   "settle_s": opts.settle, "lists": not opts.no_lists, "first_start": opts.first_start,
                   "summary": summary, "micro_and_stall": extra,
                   "rounds": rounds}, f, indent=1)
    print(f"written {out}")


if __name__ == "__main__":
    main()
