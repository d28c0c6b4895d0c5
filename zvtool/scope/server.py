"""The scope's web server (aiohttp): the page and its files, frames over a WebSocket, the samples
behind a picture as .npy, and figures for benchmarks.

Access: by default the server listens on the loopback address only and answers only requests
addressed to it by a loopback name (a page elsewhere that points a name of its own at this
address gets 403). With a host given, every request needs the secret token printed at start, in
the URL or in the cookie the page receives with it. WebSocket connections from a page of another
origin are refused in both cases. Messages from a page are validated before anything is changed;
a bad one gets an error message back and never disturbs the server.

Routes: /  /static/<file>  /ws  /snapshot?seq=N  /stats[?since=N]
"""
import asyncio
import collections
import errno
import hmac
import io
import json
import os
import pathlib
import sys
import time

import numpy
from aiohttp import WSMsgType, web

from zvtool.errors import UsageError
from zvtool.live.settings import SETTINGS, VIEW, SettingError, validate
from zvtool.scope.acquisition import Acquisition
from zvtool.scope.frame_format import encode, encode_arrays

STATIC = pathlib.Path(__file__).resolve().parent / "static"
FILES = {"scope.js": "text/javascript", "scope.css": "text/css"}
SECURITY_HEADERS = {
    # Everything the page uses comes from this server: nothing from the internet.
    "Content-Security-Policy": "default-src 'self'; img-src 'self' data: blob:; "
                               "connect-src 'self'; base-uri 'none'; form-action 'none'; "
                               "frame-ancestors 'none'",
    "X-Content-Type-Options": "nosniff",
    "Cache-Control": "no-store",
}
SOURCE_TIMEOUT = 5.0  # seconds a detector setting may take before the page hears it failed
MESSAGE_LIMIT = 64 * 1024  # bytes of a message from a page
QUEUED_MESSAGES = 64  # text messages waiting for a slow page; beyond, it is disconnected
LATENCIES_KEPT = 2000
RECORDING_REPORT_S = 0.5  # how often the pages hear how a recording goes


class Client:
    """One open page: its text messages in order, and only the newest frame (a page that falls
    behind skips frames instead of piling them up here)."""

    def __init__(self, ws):
        self.ws = ws
        self.messages = collections.deque()
        self.frame = None
        self.wake = asyncio.Event()

    def post(self, message):
        if len(self.messages) >= QUEUED_MESSAGES:
            asyncio.ensure_future(self.ws.close(message=b"too far behind"))
            return
        self.messages.append(json.dumps(message, allow_nan=False))
        self.wake.set()

    def offer(self, frame):
        self.frame = frame
        self.wake.set()

    async def run(self, sent):
        """Sends until the page goes; sent(frame, time) is called for each frame sent."""
        while not self.ws.closed:
            await self.wake.wait()
            self.wake.clear()
            while self.messages and not self.ws.closed:
                await self.ws.send_str(self.messages.popleft())
            if self.frame is not None and not self.ws.closed:
                (frame, body, listing), self.frame = self.frame, None
                now = time.time()
                await self.ws.send_bytes(encode(frame, body, listing, now))
                sent(frame, now)


class ScopeServer:
    def __init__(self, source, host="127.0.0.1", port=8025, token=None, fps=30, record_dir=".",
                 **producer_options):
        """token None: loopback only, no token; otherwise every request must carry it.
        Recordings started from a page go to new files in `record_dir`."""
        self.source = source
        self.record_dir = record_dir
        self.host, self.port, self.token = host, port, token
        self.acquisition = Acquisition(source, self._publish, self._notify, fps,
                                       **producer_options)
        self.clients = set()
        self.notice = ""
        self.frames_sent = 0
        self.latencies = collections.deque(maxlen=LATENCIES_KEPT)
        self.started = time.monotonic()
        self.loop = None
        self.runner = None
        self.watcher = None

    # ---- Life ----

    async def start(self):
        self.loop = asyncio.get_running_loop()
        app = web.Application(middlewares=[self._guard], client_max_size=MESSAGE_LIMIT)
        app.router.add_get("/", self._index)
        app.router.add_get("/static/{name}", self._static)
        app.router.add_get("/ws", self._websocket)
        app.router.add_get("/snapshot", self._snapshot)
        app.router.add_get("/stats", self._stats)
        self.runner = web.AppRunner(app, access_log=None, handle_signals=False)
        await self.runner.setup()
        site = web.TCPSite(self.runner, self.host, self.port)
        try:
            await site.start()
        except OSError as error:
            await self.runner.cleanup()
            if error.errno == errno.EADDRINUSE:
                raise UsageError(f"port {self.port} on {self.host} is in use (another zv scope?):"
                                 f" choose another with --port, e.g. --port "
                                 f"{self.port + 1}") from None
            raise UsageError(f"cannot listen on {self.host} port {self.port}: "
                             f"{error.strerror}") from None
        self.port = site._server.sockets[0].getsockname()[1]  # the one chosen for port 0
        self.acquisition.start()
        self.watcher = asyncio.ensure_future(self._watch_recording())

    async def stop(self):
        self.watcher.cancel()
        await self.loop.run_in_executor(None, self.acquisition.stop)
        for client in list(self.clients):
            await client.ws.close(message=b"zv scope stopped")
        await self.runner.cleanup()

    @property
    def url(self):
        host = f"[{self.host}]" if ":" in self.host else self.host
        return f"http://{host}:{self.port}/" + (f"?token={self.token}" if self.token else "")

    # ---- Access ----

    @web.middleware
    async def _guard(self, request, handler):
        if self.token is None:
            local = {f"{name}:{self.port}" for name in ("127.0.0.1", "localhost", "[::1]")}
            if request.host not in local:
                return _refuse(f"zv scope answers on http://127.0.0.1:{self.port}/ only")
        else:
            given = request.query.get("token") or request.cookies.get(self._cookie) or ""
            if not hmac.compare_digest(given.encode(), self.token.encode()):
                return _refuse("zv scope needs the token it printed when it started: open the "
                               "whole address it printed, with ?token=...")
        origin = request.headers.get("Origin")
        if request.path == "/ws" and origin is not None and origin != f"http://{request.host}":
            return _refuse("zv scope takes connections from its own page only")
        return await handler(request)

    @property
    def _cookie(self):
        return f"zv_scope_{self.port}"

    # ---- Pages ----

    async def _index(self, request):
        response = web.Response(body=(STATIC / "index.html").read_bytes(),
                                content_type="text/html", charset="utf-8",
                                headers=SECURITY_HEADERS)
        if self.token is not None:  # the page's own requests carry it from here on
            response.set_cookie(self._cookie, self.token, httponly=True, samesite="Strict")
        return response

    async def _static(self, request):
        name = request.match_info["name"]
        if name not in FILES:
            raise web.HTTPNotFound(text=f"no file {name!r}")
        return web.Response(body=(STATIC / name).read_bytes(), content_type=FILES[name],
                            charset="utf-8", headers=SECURITY_HEADERS)

    async def _snapshot(self, request):
        try:
            seq = int(request.query.get("seq", ""))
        except ValueError:
            return web.Response(status=400, text="snapshot takes ?seq=N, a frame number")
        try:
            samples, rate = await self.loop.run_in_executor(
                None, self.acquisition.producer.snapshot, seq)
        except LookupError as error:
            return web.Response(status=409, text=str(error))
        data = io.BytesIO()
        numpy.save(data, samples)
        name = f"zv-scope-{time.strftime('%Y%m%d-%H%M%S')}-{_rate_text(rate)}.npy"
        return web.Response(body=data.getvalue(), content_type="application/octet-stream",
                            headers={"Content-Disposition": f'attachment; filename="{name}"',
                                     "X-Samplerate": repr(rate), **SECURITY_HEADERS})

    async def _stats(self, request):
        try:  # ?since=N: only the frames sent after the first N (a benchmark's window)
            since = int(request.query.get("since", 0))
        except ValueError:
            return web.Response(status=400, text="stats takes ?since=N, a number of frames")
        latencies = sorted(latency for sent, latency in self.latencies if sent > since)

        def share(fraction):
            return latencies[min(len(latencies) - 1, int(fraction * len(latencies)))]

        latency = {"count": len(latencies)}
        if latencies:
            latency.update(median=share(0.5), p95=share(0.95), max=latencies[-1])
        return web.json_response({
            "frames_sent": self.frames_sent, "latency": latency, "clients": len(self.clients),
            "cpu_seconds": time.process_time(), "wall_seconds": time.monotonic() - self.started,
            "samples_read": self.acquisition.samples_read, "lost_total": self.source.lost_total,
        })

    # ---- Frames and messages ----

    async def _websocket(self, request):
        ws = web.WebSocketResponse(max_msg_size=MESSAGE_LIMIT)
        await ws.prepare(request)
        client = Client(ws)
        self.clients.add(client)
        sender = asyncio.ensure_future(client.run(self._sent))
        client.post(self._state(schema=True))
        try:
            async for message in ws:
                if message.type == WSMsgType.TEXT:
                    await self._handle(client, message.data)
                elif message.type == WSMsgType.BINARY:
                    client.post(_error("messages to zv scope are JSON text"))
        finally:
            self.clients.discard(client)
            sender.cancel()
        return ws

    async def _handle(self, client, text):
        try:
            try:
                message = json.loads(text)
            except ValueError:
                return client.post(_error("a message is a JSON object, e.g. "
                                          '{"type": "set", "name": "units", "value": "mW"}'))
            kind = message.get("type") if isinstance(message, dict) else None
            if kind == "state":
                return client.post(self._state())
            if kind == "record":
                return await self._record(client, message.get("action"))
            if kind != "set":
                return client.post(_error(f"unknown message type {str(kind)[:40]!r}: the types "
                                          "are set, record and state"))
            name = message.get("name")
            restarted = False
            try:
                value = validate(name, message.get("value"), self.source.limits())
                if SETTINGS[name].owner == VIEW:
                    self.acquisition.set_view(name, value)
                else:
                    generation = self.source.generation
                    future = asyncio.wrap_future(self.source.request(name, value))
                    await asyncio.wait_for(future, SOURCE_TIMEOUT)
                    restarted = self.source.generation != generation
            except SettingError as error:
                return client.post(_error(str(error), name))
            except asyncio.TimeoutError:
                return client.post(_error(f"the detector did not take {name} within "
                                          f"{SOURCE_TIMEOUT:g} s", name))
            self._broadcast(self._state())
            if restarted:
                self._broadcast({"type": "info", "message": f"the stream was restarted to "
                                 f"change its {name}: the trace and spectrum start afresh"})
        except Exception as error:  # a fault of ours: told, logged, and the server goes on
            print(f"zv scope: {type(error).__name__}: {error}", file=sys.stderr)
            client.post(_error(f"zv scope could not handle that message ({error})"))

    async def _record(self, client, action):
        """{"type": "record", "action": "start"} records the stream to a new file in the
        recording folder; "stop" ends the recording."""
        if action not in ("start", "stop"):
            return client.post(_error(f"record takes the action start or stop, not "
                                      f"{str(action)[:40]!r}", "recording"))
        path = _recording_path(self.record_dir) if action == "start" else None
        try:
            future = asyncio.wrap_future(self.source.request_recording(path))
            await asyncio.wait_for(future, SOURCE_TIMEOUT)
        except SettingError as error:
            return client.post(_error(str(error), "recording"))
        except asyncio.TimeoutError:
            return client.post(_error(f"the recording did not {action} within "
                                      f"{SOURCE_TIMEOUT:g} s", "recording"))
        self._broadcast(self._state())

    async def _watch_recording(self):
        """Tells the pages how a recording goes, twice a second while it runs, and once more
        when it has ended."""
        shown = None
        while True:
            await asyncio.sleep(RECORDING_REPORT_S)
            status = self.source.recording_status()
            if status != shown and self.clients:
                self._broadcast(self._state())
            shown = status

    def _state(self, schema=False):
        limits = self.source.limits()
        state = self.source.state()
        message = {
            "type": "state",
            "settings": {**{k: v for k, v in state.items() if k in SETTINGS},
                         **self.acquisition.view()},
            "source": {"serial": self.source.serial, "samplerate": state["samplerate"],
                       "device_samplerate": self.source.device_samplerate,
                       "can_record": self.source.can_record},
            "notice": self.notice,
            "recording": self.source.recording_status(),
        }
        if schema:
            message["schema"] = {
                name: {"owner": s.owner, "kind": s.kind, "help": s.help, "unit": s.unit,
                       "choices": list(s.choices), "low": s.low,
                       "high": limits[s.high] if isinstance(s.high, str) else s.high}
                for name, s in SETTINGS.items()}
        return message

    def _broadcast(self, message):
        for client in self.clients:
            client.post(message)

    def _publish(self, frame):
        """From the acquisition thread: the frame goes to every page."""
        self.loop.call_soon_threadsafe(self._offer, frame)

    def _offer(self, frame):
        if not self.clients:
            return
        body, listing = encode_arrays(frame)
        for client in self.clients:
            client.offer((frame, body, listing))

    def _sent(self, frame, now):
        self.frames_sent += 1
        if frame.header["arrived"] is not None:
            self.latencies.append((self.frames_sent, now - frame.header["arrived"]))

    def _notify(self, text):
        """From the acquisition thread: a failure to read, or "" when it reads again."""
        def tell():
            self.notice = text
            self._broadcast(self._state())
        self.loop.call_soon_threadsafe(tell)


def _refuse(text):
    return web.Response(status=403, text=text + "\n")


def _error(text, name=None):
    return {"type": "error", "message": text, "name": name}


def _recording_path(folder):
    """A file name in `folder` no other file has: zv-scope-<date>-<time>[-N].h5."""
    stem = os.path.join(folder, f"zv-scope-{time.strftime('%Y%m%d-%H%M%S')}")
    path, n = stem + ".h5", 1
    while os.path.exists(path):
        n += 1
        path = f"{stem}-{n}.h5"
    return path


def _rate_text(rate):
    for factor, prefix in ((1e9, "G"), (1e6, "M"), (1e3, "k"), (1, "")):
        if rate >= factor:
            return f"{rate / factor:g}{prefix}Sps"
    return f"{rate:g}Sps"
