#!/usr/bin/python3
"""zv scope end to end: the page in headless Chromium, the server in a process of its own.

Starts `zv scope` (by default on the simulated detector), opens the page, lets it run for a
warm-up and then --seconds more, and prints:
  - frames per second drawn by the page (and received),
  - latency from the newest sample behind a frame reaching the host to the frame leaving the
    server (the server's own measurement: median, 95th percentile, maximum), and from the
    frame leaving to the page receiving it,
  - processor time of the server process (acquisition, frames and web server; with
    --simulate also the simulated detector, which runs in that process) per second of wall
    time, in cores; the browser's is not counted,
  - the samples the server read per second and the samples lost meanwhile.
Targets: at least 25 frames per second, under 100 ms (95th percentile), at most one core.

    ZV_BUILD_DIR=build PYTHONPATH=build:. bench/scope/scope_bench.py [--seconds S] [--span S]
                                                                       [-- zv scope options]
"""
import argparse
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import urllib.request

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO))

from zvtool.scope.headless import BrowserUnavailable, start_browser  # noqa: E402

TARGET_FPS, TARGET_LATENCY, TARGET_CORES = 25.0, 0.100, 1.0


def server_figures(url, since=0):
    with urllib.request.urlopen(f"{url}stats?since={since}", timeout=10) as response:
        return json.load(response)


def page_figures(driver):
    return driver.execute_script(
        "return {drawn: zvScope.drawn, received: zvScope.received, now: performance.now(),"
        " latencies: zvScope.latencies.slice()}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--warmup", type=float, default=3.0)
    parser.add_argument("--span", type=float, default=1e-3, help="trace span set on the page")
    parser.add_argument("scope_options", nargs="*", default=["--simulate"],
                        help="options of zv scope (default --simulate)")
    args = parser.parse_args()

    build = os.environ.get("ZV_BUILD_DIR", "build")
    env = dict(os.environ, PYTHONPATH=f"{build}:{REPO}")
    server = subprocess.Popen(
        [sys.executable, "-m", "zvtool", "scope", "--port", "0", "--no-browser",
         *args.scope_options], stdout=subprocess.PIPE, text=True, env=env, cwd=REPO)
    try:
        line = server.stdout.readline()
        if " at http" not in line:
            sys.exit(f"scope_bench: zv scope did not start: {line!r}")
        url = line.split(" at ", 1)[1].strip()
        with tempfile.TemporaryDirectory() as profile:
            try:
                driver = start_browser(profile)
            except BrowserUnavailable as error:
                print(f"SKIPPED: {error}")
                return 0
            try:
                driver.get(url)
                deadline = time.monotonic() + 30
                while not driver.execute_script("return !!(window.zvScope && zvScope.state)"):
                    if time.monotonic() > deadline:
                        sys.exit("scope_bench: the page did not connect within 30 s")
                    time.sleep(0.1)
                driver.execute_script(f"send({{type: 'set', name: 'span', value: {args.span!r}}})")
                time.sleep(args.warmup)
                page0, server0 = page_figures(driver), server_figures(url)
                time.sleep(args.seconds)
                page1 = page_figures(driver)
                server1 = server_figures(url, since=server0["frames_sent"])
            finally:
                driver.quit()
    finally:
        server.terminate()
        server.wait(30)

    wall = (page1["now"] - page0["now"]) / 1000
    drawn = (page1["drawn"] - page0["drawn"]) / wall
    received = (page1["received"] - page0["received"]) / wall
    latency = server1["latency"]
    cores = (server1["cpu_seconds"] - server0["cpu_seconds"]) / (
        server1["wall_seconds"] - server0["wall_seconds"])
    transit = sorted(page1["latencies"][-int(received * args.seconds):] or [0.0])
    print(f"zv scope {' '.join(args.scope_options)}, span {args.span:g} s, {args.seconds:g} s "
          "measured (headless Chromium)")
    print(f"  frames per second     {drawn:6.1f} drawn, {received:.1f} received")
    if latency["count"]:
        print(f"  latency, arrival to sent (server)  median {latency['median'] * 1e3:.1f} ms,"
              f" 95% {latency['p95'] * 1e3:.1f} ms, max {latency['max'] * 1e3:.1f} ms")
    print(f"  latency, sent to received (page)   median "
          f"{transit[len(transit) // 2] * 1e3:.1f} ms")
    print(f"  processor time of the server       {cores:.2f} cores")
    rate = (server1["samples_read"] - server0["samples_read"]) / (
        server1["wall_seconds"] - server0["wall_seconds"])
    print(f"  samples read                       {rate / 1e6:.1f} MS/s, "
          f"{server1['lost_total'] - server0['lost_total']} lost")
    met = (drawn >= TARGET_FPS and latency["count"] and latency["p95"] < TARGET_LATENCY
           and cores <= TARGET_CORES)
    print(f"target: >= {TARGET_FPS:g} frames/s, < {TARGET_LATENCY * 1e3:g} ms, <= "
          f"{TARGET_CORES:g} core: {'met' if met else 'NOT met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
