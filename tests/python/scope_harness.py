"""A zv scope server running in the test's process (its event loop on a thread of its own), so a
test can look at the source and the simulated detector behind the page."""
import asyncio
import json
import threading

import aiohttp

from zvtool.live.source import StreamSource
from zvtool.scope.frame_format import decode
from zvtool.scope.server import ScopeServer


class RunningScope:
    def __init__(self, source, token=None, **options):
        self.source = source
        self.loop = asyncio.new_event_loop()
        self.thread = threading.Thread(target=self.loop.run_forever, daemon=True)
        self.thread.start()
        self.server = ScopeServer(source, "127.0.0.1", 0, token, **options)
        self.call(self.server.start())

    def call(self, coroutine, timeout=20):
        return asyncio.run_coroutine_threadsafe(coroutine, self.loop).result(timeout)

    @property
    def url(self):
        return f"http://127.0.0.1:{self.server.port}/"

    def close(self):
        self.call(self.server.stop())
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(10)
        self.loop.close()


def open_scope(device, **options):
    """A scope on the stream of an opened detector; the scope closes the detector."""
    return RunningScope(StreamSource(device), **options)


async def talk(url, messages, frames=0, token=None):
    """Connects to the page's WebSocket, sends each message and returns (texts, frame headers)
    received until one reply per message and `frames` frames have come (10 s at most)."""
    texts, headers_seen = [], []
    address = url.replace("http", "ws", 1) + "ws" + (f"?token={token}" if token else "")
    async with aiohttp.ClientSession() as session:
        async with session.ws_connect(address) as ws:
            texts.append(json.loads((await ws.receive(timeout=10)).data))  # the first state
            for message in messages:
                await (ws.send_str(message) if isinstance(message, str)
                       else ws.send_bytes(message))
            deadline = asyncio.get_running_loop().time() + 10
            while len(texts) < 1 + len(messages) or len(headers_seen) < frames:
                received = await ws.receive(timeout=deadline - asyncio.get_running_loop().time())
                if received.type == aiohttp.WSMsgType.TEXT:
                    texts.append(json.loads(received.data))
                elif received.type == aiohttp.WSMsgType.BINARY:
                    headers_seen.append(decode(received.data)[0])
                else:
                    break
    return texts, headers_seen
