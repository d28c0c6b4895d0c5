"""zv scope's server against the simulated detector: who may connect, what a page may send,
and the command's ways in and out (address printed, port taken, Ctrl-C)."""
import asyncio
import json
import os
import pathlib
import signal
import subprocess
import sys
import urllib.error
import urllib.request

import pytest
import zvpy

from scope_harness import open_scope, talk

REPO = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture
def device(attach):
    from zvtool import simulated

    simulated.attach(realtime=True)
    with zvpy.Device(serial=simulated.SERIAL) as opened:
        yield opened


def status(url, headers=None):
    try:
        with urllib.request.urlopen(urllib.request.Request(url, headers=headers or {}),
                                    timeout=10) as response:
            return response.status, response.headers
    except urllib.error.HTTPError as error:
        return error.code, error.headers


def test_a_token_guards_every_route(device):
    scope = open_scope(device, token="s3cret-token")
    try:
        base = scope.url
        for path in ("", "static/scope.js", "stats", "snapshot?seq=1", "ws"):
            assert status(base + path)[0] == 403, path
        assert status(base + "?token=wrong")[0] == 403
        code, headers = status(base + "?token=s3cret-token")
        assert code == 200 and "default-src 'self'" in headers["Content-Security-Policy"]
        cookie = headers["Set-Cookie"].split(";")[0]
        assert status(base + "static/scope.js", {"Cookie": cookie})[0] == 200
        texts, frames = asyncio.run(talk(base, [], frames=2, token="s3cret-token"))
        assert texts[0]["type"] == "state" and "cutoff" in texts[0]["schema"]
        assert frames[-1]["sent"] >= frames[-1]["arrived"] > 0  # stamps for the latency
    finally:
        scope.close()


def test_loopback_refuses_foreign_names_and_pages(device):
    scope = open_scope(device)
    try:
        assert status(scope.url)[0] == 200
        # A name of another site pointed at this address, and a page of another origin.
        assert status(scope.url, {"Host": f"attacker.example:{scope.server.port}"})[0] == 403
        with pytest.raises(Exception, match="403"):
            asyncio.run(talk_from_origin(scope.url, "http://attacker.example"))
    finally:
        scope.close()


async def talk_from_origin(url, origin):
    import aiohttp

    async with aiohttp.ClientSession() as session:
        async with session.ws_connect(url.replace("http", "ws") + "ws",
                                      origin=origin):
            pass


def test_bad_messages_get_an_error_and_change_nothing(device, sim_state):
    scope = open_scope(device)
    try:
        bad = [
            ({"type": "set", "name": "warp", "value": 1}, "unknown setting"),
            ({"type": "set", "name": "cutoff", "value": "fast"}, "a number"),
            ({"type": "set", "name": "cutoff", "value": -5}, "takes 1 to 4e+07 Hz"),
            ({"type": "set", "name": "cutoff", "value": 1e300}, "takes 1 to"),
            ({"type": "set", "name": "decimation", "value": 2.5}, "an integer"),
            ({"type": "set", "name": "decimation", "value": 10 ** 400}, "takes 1 to"),
            ({"type": "set", "name": "highgain", "value": 1}, "true or false"),
            ({"type": "set", "name": "units", "value": "furlongs"}, "one of µW, mW, dBm"),
            ({"type": "set", "name": "wavelength", "value": 500}, "does not respond"),
            ({"type": "set", "name": ["cutoff"], "value": 1}, "unknown setting"),
            ({"type": "launch"}, "unknown message type"),
            ({"type": "record", "action": "erase"}, "the action start or stop"),
            ({"type": "record", "action": "stop"}, "no recording is running"),
            ([1, 2], "unknown message type"),
            ("{not json", "JSON object"),
            (b"\x00\x01", "JSON text"),
        ]
        messages = [m if isinstance(m, (str, bytes)) else json.dumps(m) for m, _ in bad]
        messages.append(json.dumps({"type": "set", "name": "cutoff", "value": 2.5e6}))
        texts, _ = asyncio.run(talk(scope.url, messages))
        replies = texts[1:]
        for (message, text), reply in zip(bad, replies):
            assert reply["type"] == "error" and text in reply["message"], (message, reply)
        assert replies[-1]["type"] == "state" and replies[-1]["settings"]["cutoff"] == 2.5e6
        assert scope.source.stream.read_cutoff() == 2.5e6
        assert scope.source.stream.read_calibration_wavelength() == 1550
        assert sim_state()["highgain"] == 0
    finally:
        scope.close()


@pytest.fixture
def sim_state():
    import zvsim

    return lambda: zvsim.devices()[0].features


def start_scope(*args):
    env = dict(os.environ, PYTHONPATH=f"{os.environ.get('ZV_BUILD_DIR', 'build')}:{REPO}")
    process = subprocess.Popen([sys.executable, "-m", "zvtool", "scope", "--simulate",
                                "--no-browser", *args], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, env=env, cwd=REPO)
    return process


def test_command_prints_its_address_refuses_a_taken_port_and_stops_on_ctrl_c():
    scope = start_scope("--port", "0")
    try:
        line = scope.stdout.readline()
        assert line.startswith("zv scope: HLM25-SSIM01IC at http://127.0.0.1:"), line
        url = line.split(" at ")[1].strip()
        assert status(url + "stats")[0] == 200
        port = int(url.rsplit(":", 1)[1].strip("/"))
        taken = start_scope("--port", str(port))
        out, err = taken.communicate(timeout=60)
        assert taken.returncode == 1 and f"port {port}" in err and "--port" in err, err
        assert "Traceback" not in err
        scope.send_signal(signal.SIGINT)
        out, err = scope.communicate(timeout=30)
        assert scope.returncode == 0, err
        assert "stopped" in out and "Traceback" not in err
    finally:
        if scope.poll() is None:
            scope.kill()
