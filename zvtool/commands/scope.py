"""zv scope: the live trace, spectrum and power in a web browser."""
import asyncio
import os
import secrets
import signal
import threading
import webbrowser

from zvtool.connection import add_device_arguments, open_device
from zvtool.errors import UsageError
from zvtool.live.source import StreamSource

NAME = "scope"
HELP = "watch the trace, spectrum and power live in a web browser"
EXAMPLES = """\
Serves a page on this computer showing the detector live: the trace as the minimum and maximum
of the samples behind each pixel (so no spike is lost), rolling or triggered on an edge of port
S or T; the averaged power spectral density; the mean power. The page sets gain, filter,
decimation, wavelength, units and time span, pauses, and saves the picture (.png) or the samples
behind it (.npy); its Record button writes the stream to an HDF5 recording in --record-dir (the
live view waits meanwhile: the recorder reads the samples). Everything it loads comes from zv: no
internet needed. An unplugged detector is told on the page, and the scope goes on once it is
plugged in again.

By default only this computer can connect. --host makes it reachable from others (for example
--host 0.0.0.0); the address printed then carries a secret token, without which requests are
refused. Ctrl-C stops the server and leaves the detector idle.

examples:
  zv scope --simulate
  zv scope --port 9000 --no-browser
  zv scope --record-dir /data/runs
  zv scope --host 0.0.0.0      then open the printed address from another computer"""

DEFAULT_PORT = 8025


def add_arguments(parser):
    add_device_arguments(parser)
    parser.add_argument("--port", type=int, default=DEFAULT_PORT,
                        help="TCP port to serve on (default %(default)s; 0 picks a free one)")
    parser.add_argument("--host", metavar="ADDR",
                        help="listen on this address instead of 127.0.0.1 only, and require "
                        "the printed token")
    parser.add_argument("--no-browser", action="store_true",
                        help="do not open a browser (one opens only where a display is)")
    parser.add_argument("--record-dir", metavar="DIR", default=".",
                        help="folder of the recordings started from the page (default: the "
                        "current folder)")


def run(args):
    folder = args.record_dir
    if not os.path.isdir(folder):
        raise UsageError(f"--record-dir {folder}: no such folder")
    if not os.access(folder, os.W_OK | os.X_OK):
        raise UsageError(f"--record-dir {folder}: the folder cannot be written")
    token = secrets.token_urlsafe(24) if args.host else None
    open_browser = not args.no_browser and bool(os.environ.get("DISPLAY") or
                                                os.environ.get("WAYLAND_DISPLAY"))
    with open_device(args, realtime=True) as device:
        source = StreamSource(device)
        try:
            asyncio.run(serve(source, args.host or "127.0.0.1", args.port, token, open_browser,
                              folder))
        finally:
            source.close()
    return 0


async def serve(source, host, port, token, open_browser, record_dir):
    from zvtool.scope.server import ScopeServer

    server = ScopeServer(source, host, port, token, record_dir=record_dir)
    await server.start()
    print(f"zv scope: {source.serial} at {server.url}", flush=True)
    print("Ctrl-C stops it.", flush=True)
    if open_browser:
        threading.Thread(target=webbrowser.open, args=(server.url,), daemon=True).start()
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for signum in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(signum, stop.set)
    try:
        await stop.wait()
    finally:
        await server.stop()
    print("zv scope: stopped", flush=True)
