"""Side-by-side download benchmark of korrin, curl and wget against a local nginx.

For each size, after a warm-up, every round downloads the file once with each tool, in turn, in an
order that changes from round to round (see round_order), in two modes: standard output on a
pseudo-terminal (so each tool draws its progress display as a user sees it) and standard output to
a file. Each run is wrapped in /usr/bin/time -v for wall time, user and system CPU and peak
resident memory; in terminal mode the bytes the tool wrote to the terminal are counted. Every
downloaded file is compared with the source. Prints a Markdown table of medians and the korrin/curl
and korrin/wget ratios (medians of the per-round ratios).

A fourth row per size, "korrin sha-256", fetches the same file under another name for which nginx
adds a Content-Digest header with its SHA-256 (computed here, before the server starts), so korrin
checks the body as it arrives; its cost is printed against the plain korrin row: both medians and
their ratio.

Then the figure a script sees for small files: a shell loop of --loop downloads (default 200) of
the 1 KiB file to /dev/null, timed as a whole, for korrin, "curl -sf" and "wget -q", and for three
programs that do nothing, to show what sets the floor: an empty C++ program linked as korrin is
(C++ runtime static), the same linked against libcurl (so every library korrin loads is loaded),
and the same calling curl_global_init and curl_global_cleanup. Each loop runs --rounds times,
taking turns; the medians are printed.
"""
import argparse
import base64
import filecmp
import hashlib
import os
import pty
import re
import select
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SIZES = {"1K": 1024, "10M": 10 * 1024 ** 2, "512M": 512 * 1024 ** 2, "1G": 1024 ** 3,
         "5G": 5 * 1024 ** 3}

# The programs that do nothing, as C++ sources; each is linked as korrin is.
EMPTY_PROGRAMS = {
    "empty program": ("int main() { return 0; }\n", []),
    "empty + libcurl loaded": ("int main() { return 0; }\n", ["-Wl,--no-as-needed", "-lcurl"]),
    "empty + curl_global_init": (
        "#include <curl/curl.h>\n"
        "int main() { curl_global_init(CURL_GLOBAL_DEFAULT); curl_global_cleanup(); return 0; }\n",
        ["-lcurl"]),
}


def build_empty_programs(work):
    """Compiles the programs that do nothing; returns name -> path."""
    paths = {}
    for i, (name, (source, libraries)) in enumerate(EMPTY_PROGRAMS.items()):
        src = f"{work}/empty{i}.cpp"
        with open(src, "w") as f:
            f.write(source)
        out = f"{work}/empty{i}"
        subprocess.run(["c++", "-O2", "-static-libstdc++", "-static-libgcc", src, "-o", out]
                       + libraries, check=True)
        paths[name] = out
    return paths


def loop_command(tool, korrin, empty, url, count):
    """The shell loop that a script would run: count downloads of url, one after the other."""
    one = {"korrin": f"{korrin} {url}",
           "curl -sf": f"/usr/bin/curl -sf {url}",
           "wget -q": f"/usr/bin/wget -q -O - {url}"}.get(tool) or empty[tool]
    return ["bash", "-c", f"for i in $(seq {count}); do {one} >/dev/null || exit 1; done"]


def start_nginx(root, prefix, locations=""):
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(128)
    port = sock.getsockname()[1]
    os.set_inheritable(sock.fileno(), True)
    os.makedirs(prefix + "/tmp", exist_ok=True)
    conf = f"""daemon off; user root; worker_processes 1; pid {prefix}/nginx.pid;
error_log {prefix}/error.log warn;
events {{ worker_connections 256; }}
http {{ access_log off; sendfile on; default_type application/octet-stream;
  client_body_temp_path {prefix}/tmp/b; proxy_temp_path {prefix}/tmp/p; fastcgi_temp_path {prefix}/tmp/f;
  uwsgi_temp_path {prefix}/tmp/u; scgi_temp_path {prefix}/tmp/s;
  server {{ listen 127.0.0.1:{port}; root {root}; {locations} }} }}"""
    with open(prefix + "/nginx.conf", "w") as f:
        f.write(conf)
    env = dict(os.environ, NGINX=f"{sock.fileno()};")
    proc = subprocess.Popen(["/usr/sbin/nginx", "-p", prefix, "-c", prefix + "/nginx.conf",
                             "-e", prefix + "/error.log"], env=env, pass_fds=[sock.fileno()])
    return proc, port, sock


def parse_time(path):
    text = open(path).read()
    def field(name):
        return re.search(re.escape(name) + r": (.*)", text).group(1).strip()
    wall = field("Elapsed (wall clock) time (h:mm:ss or m:ss)")
    parts = [float(p) for p in wall.split(":")]
    seconds = sum(p * 60 ** i for i, p in enumerate(reversed(parts)))
    return {"wall": seconds, "user": float(field("User time (seconds)")),
            "sys": float(field("System time (seconds)")),
            "rss_kb": int(field("Maximum resident set size (kbytes)"))}


def round_order(tools, rnd):
    """The order of the tools in round rnd: a balanced Latin square (Williams), so that over each
    len(tools) rounds every tool runs once in every place and, for an even number of tools as here,
    once after every other tool. A run inherits what the run before it left (its file just removed,
    memory just freed, writeback): on this kind of machine a plain korrin run right after wget's
    took 0.50 to 0.57 s where the same run first in its round took 0.40 to 0.46 s, so with one
    fixed order the row that always follows wget would carry that cost alone. --rounds as a
    multiple of the number of tools (4) gives every order equal weight."""
    n = len(tools)
    first, low, high = [0], 1, n - 1
    while len(first) < n:  # 0, 1, n-1, 2, n-2, ...
        first.append(low)
        low += 1
        if len(first) < n:
            first.append(high)
            high -= 1
    return [tools[(i + rnd) % n] for i in first]


def run_on_pty(argv):
    """Runs argv with stdin/stdout/stderr on a new pseudo-terminal; returns bytes it wrote there."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(argv[0], argv)
    written = 0
    while True:
        try:
            ready, _, _ = select.select([fd], [], [], 600)
            if not ready:
                os.kill(pid, 9)
                break
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        written += len(chunk)
    os.waitpid(pid, 0)
    os.close(fd)
    return written


def commands(tool, korrin, url, out):
    return {"korrin": [korrin, url, "-o", out],
            "korrin sha-256": [korrin, url.replace(".bin", "-sha256.bin"), "-o", out],
            "curl": ["/usr/bin/curl", "-o", out, url],
            "wget": ["/usr/bin/wget", "-O", out, url]}[tool]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korrin", required=True)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--sizes", default="1K,10M,512M,1G")
    ap.add_argument("--big", action="store_true", help="add a 5 GiB file")
    ap.add_argument("--loop", type=int, default=200,
                    help="downloads of 1 KiB per shell loop; 0 leaves the loop out")
    args = ap.parse_args()
    sizes = args.sizes.split(",") + (["5G"] if args.big else [])
    if args.loop and "1K" not in sizes:
        sizes = ["1K"] + sizes
    loop_tools = ["korrin", "curl -sf", "wget -q"] + list(EMPTY_PROGRAMS)
    tools = ["korrin", "curl", "wget", "korrin sha-256"]
    work = tempfile.mkdtemp(prefix="korrin-bench-")
    root = work + "/html"
    os.makedirs(root)
    locations = ""
    for size in sizes:
        digest = hashlib.sha256()
        with open(f"{root}/{size}.bin", "wb") as f:
            remaining = SIZES[size]
            block = os.urandom(1024 * 1024)
            while remaining > 0:
                piece = block[:min(remaining, len(block))]
                f.write(piece)
                digest.update(piece)
                remaining -= len(block)
        # The same file under a second name, served with its checksum.
        os.link(f"{root}/{size}.bin", f"{root}/{size}-sha256.bin")
        value = base64.b64encode(digest.digest()).decode()
        locations += (f'location = /{size}-sha256.bin {{ '
                      f'add_header Content-Digest "sha-256=:{value}:"; }} ')
    empty = build_empty_programs(work) if args.loop else {}
    nginx, port, sock = start_nginx(root, work, locations)
    results = {}  # (size, mode, tool) -> list of measurement dicts, one per round
    loops = {}  # tool -> list of wall times of one loop, one per round
    try:
        if args.loop:
            url = f"http://127.0.0.1:{port}/1K.bin"
            for rnd in range(args.rounds + 1):  # round 0 is the warm-up
                for tool in loop_tools:
                    started = time.perf_counter()
                    done = subprocess.run(loop_command(tool, args.korrin, empty, url, args.loop),
                                          stdin=subprocess.DEVNULL, check=False)
                    elapsed = time.perf_counter() - started
                    if done.returncode != 0:
                        sys.exit(f"the loop of {tool} failed")
                    if rnd > 0:
                        loops.setdefault(tool, []).append(elapsed)
        for size in sizes:
            url = f"http://127.0.0.1:{port}/{size}.bin"
            source = f"{root}/{size}.bin"
            for mode in ("pty", "file"):
                for rnd in range(args.rounds + 1):  # round 0 is the warm-up
                    for tool in round_order(tools, rnd):
                        out = f"{work}/out-{tool.replace(' ', '-')}"
                        timing = f"{work}/time-{tool.replace(' ', '-')}"
                        argv = ["/usr/bin/time", "-v", "-o", timing] + commands(tool, args.korrin, url, out)
                        # Flush the last run's file to disk first, so that no run pays for the
                        # writeback of another's.
                        os.sync()
                        started = time.perf_counter()
                        if mode == "pty":
                            term = run_on_pty(argv)
                        else:
                            with open(f"{work}/stdout-{tool.replace(' ', '-')}", "wb") as so:
                                subprocess.run(argv, stdout=so, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, check=False)
                            term = 0
                        elapsed = time.perf_counter() - started
                        if not filecmp.cmp(out, source, shallow=False):
                            sys.exit(f"{tool} downloaded a wrong {size} file")
                        os.remove(out)
                        m = parse_time(timing)
                        m["term"] = term
                        # /usr/bin/time's wall clock has 10 ms steps: too coarse for small files.
                        m["wall"] = elapsed
                        if rnd > 0:
                            results.setdefault((size, mode, tool), []).append(m)
    finally:
        nginx.terminate()
        nginx.wait()
        shutil.rmtree(work, ignore_errors=True)

    print(f"rounds: {args.rounds} (after one warm-up); {os.cpu_count()} cores; "
          f"{subprocess.run(['uname', '-srm'], capture_output=True, text=True).stdout.strip()}")
    print()
    print("| size | stdout | tool | wall s | user s | sys s | peak RSS KiB | terminal bytes |"
          " wall vs curl | CPU vs curl | RSS vs curl | wall vs wget |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for size in sizes:
        for mode in ("pty", "file"):
            for tool in tools:
                runs = results[(size, mode, tool)]
                med = {k: statistics.median(r[k] for r in runs) for k in runs[0]}
                def ratio(other, key):
                    pairs = zip(runs, results[(size, mode, other)])
                    vals = []
                    for a, b in pairs:
                        va = a["user"] + a["sys"] if key == "cpu" else a[key]
                        vb = b["user"] + b["sys"] if key == "cpu" else b[key]
                        vals.append(va / vb if vb else float("nan"))
                    return statistics.median(vals)
                extra = ["", "", "", ""]
                if tool.startswith("korrin"):
                    extra = [f"{ratio('curl', 'wall'):.2f}", f"{ratio('curl', 'cpu'):.2f}",
                             f"{ratio('curl', 'rss_kb'):.2f}", f"{ratio('wget', 'wall'):.2f}"]
                print(f"| {size} | {mode} | {tool} | {med['wall']:.3f} | {med['user']:.3f} | "
                      f"{med['sys']:.3f} | {int(med['rss_kb'])} | {int(med['term'])} | " + " | ".join(extra) + " |")

    # What checking the checksum costs: the sha-256 row against the plain korrin row of the same
    # rounds: both median wall times, the ratio of the medians, and the medians of the per-round
    # ratios.
    print()
    print("| size | stdout | korrin wall s | korrin sha-256 wall s | ratio of medians |"
          " median per-round ratio | CPU vs plain korrin | user s added |")
    print("|---|---|---|---|---|---|---|---|")
    for size in sizes:
        for mode in ("pty", "file"):
            checked = results[(size, mode, "korrin sha-256")]
            plain = results[(size, mode, "korrin")]
            plain_wall = statistics.median(b["wall"] for b in plain)
            checked_wall = statistics.median(a["wall"] for a in checked)
            wall = statistics.median(a["wall"] / b["wall"] for a, b in zip(checked, plain))
            cpus = [((a["user"] + a["sys"]), (b["user"] + b["sys"])) for a, b in zip(checked, plain)]
            cpu = statistics.median(a / b if b else float("nan") for a, b in cpus)
            user = statistics.median(a["user"] - b["user"] for a, b in zip(checked, plain))
            print(f"| {size} | {mode} | {plain_wall:.3f} | {checked_wall:.3f} | "
                  f"{checked_wall / plain_wall:.2f} | {wall:.2f} | {cpu:.2f} | {user:.3f} |")

    if loops:
        print()
        print(f"{args.loop} downloads of 1 KiB in a shell loop, to /dev/null (medians of "
              f"{args.rounds} rounds):")
        print()
        print("| program | loop wall s | ms per run | vs korrin |")
        print("|---|---|---|---|")
        base = statistics.median(loops["korrin"])
        for tool in loop_tools:
            wall = statistics.median(loops[tool])
            print(f"| {tool} | {wall:.3f} | {1000 * wall / args.loop:.2f} | {wall / base:.2f} |")


if __name__ == "__main__":
    main()
