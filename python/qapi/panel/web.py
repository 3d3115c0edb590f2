"""HTTP and the WebSocket, and the rules that guard them.

- With a token, every request needs it: once as ?token=... (the answer
  sets a cookie and sends the browser on without it in the address), then
  by that cookie, or as "Authorization: Bearer ...".  Without a token the
  panel listens on loopback only (options.py) and takes only requests that
  name a loopback host, so a web page elsewhere cannot reach it through a
  name that resolves to this machine.
- The WebSocket takes only connections whose Origin is the panel's own (or
  one named with --origin, for a page served through a reverse proxy), at
  most hub.MAX_BROWSERS at once, each command of at most MAX_COMMAND bytes,
  at the rate of limits.py, one at a time.
- Every answer forbids framing, sniffing, caching and any script, style or
  connection from elsewhere; the page builds its content from text only.
"""
import asyncio
import hmac
import json
import urllib.parse
from pathlib import Path

from aiohttp import WSMsgType, web

from .limits import COMMANDS_PER_SECOND, TokenBucket
from .options import is_loopback

STATIC = Path(__file__).with_name("static")
_FILES = {"/": ("index.html", "text/html"), "/panel.js": ("panel.js", "text/javascript"),
          "/panel.css": ("panel.css", "text/css")}
_HEADERS = {
    "Content-Security-Policy": "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                               "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'",
    "X-Content-Type-Options": "nosniff",
    "X-Frame-Options": "DENY",
    "Referrer-Policy": "no-referrer",
    "Cache-Control": "no-store",
}
MAX_COMMAND = 4096       # bytes of one command from a browser


def cookie_name(port):
    return f"qapi_panel_{port}"


def _hostname(host):
    """The host part of a Host header ('[::1]:8080' -> '::1')."""
    if host.startswith("["):
        return host[1:].partition("]")[0]
    return host.rpartition(":")[0] if host.count(":") == 1 else host


def _refuse(status, text):
    return web.Response(status=status, text=text + "\n", content_type="text/plain")


class Guard:
    def __init__(self, token, port):
        self.token = token
        self.cookie = cookie_name(port)

    def _given(self, request):
        bearer = request.headers.get("Authorization", "")
        if bearer.startswith("Bearer "):
            return bearer[7:]
        return request.cookies.get(self.cookie)

    def _matches(self, given):
        return given is not None and hmac.compare_digest(given.encode("utf-8"), self.token.encode("utf-8"))

    @web.middleware
    async def middleware(self, request, handler):
        if self.token is None:
            if not is_loopback(_hostname(request.host or "")):
                return _refuse(403, "This panel answers only on this machine's loopback names.")
        elif "token" in request.query:
            if not self._matches(request.query["token"]):
                return _refuse(401, "Wrong token.")
            rest = [(k, v) for k, v in request.query.items() if k != "token"]
            response = web.HTTPSeeOther(request.path + ("?" + urllib.parse.urlencode(rest) if rest else ""))
            response.set_cookie(self.cookie, self.token, httponly=True, samesite="Strict", path="/",
                                secure=request.secure)
            return response
        elif not self._matches(self._given(request)):
            return _refuse(401, "This panel needs its token: open it once as /?token=TOKEN.")
        try:
            return await handler(request)
        except web.HTTPException as e:
            return e


def trusted_origin(request, others):
    origin = request.headers.get("Origin")
    return origin is not None and (origin == f"{request.scheme}://{request.host}" or origin in others)


async def _file(request):
    name, kind = _FILES[request.path]
    return web.Response(body=(STATIC / name).read_bytes(), content_type=kind, charset="utf-8")


async def _answer(message, bucket, operations, submit):
    """The reply to one message of a browser: checked here, carried out on
    the library's thread through `submit` when it passes."""
    try:
        command = json.loads(message.data) if message.type == WSMsgType.TEXT else None
    except ValueError:
        command = None
    if not bucket.take():
        reply = {"ok": False, "text": f"Too many commands: at most {COMMANDS_PER_SECOND} a second"}
    else:
        reply, job = operations.prepare(command)
        if job is not None:
            reply = await submit(job)
    return dict(reply, type="result", id=command.get("id") if isinstance(command, dict) else None)


def make_app(hub, operations, submit, token=None, port=8080, origins=()):
    """The panel's web application; `submit(job)` runs job() on the
    library's thread and returns an awaitable of its reply."""
    guard = Guard(token, port)
    origins = frozenset(origins)
    app = web.Application(middlewares=[guard.middleware])

    async def headers(request, response):
        response.headers.update(_HEADERS)
    app.on_response_prepare.append(headers)
    app.on_shutdown.append(hub.close_all)

    async def websocket(request):
        if not trusted_origin(request, origins):
            return _refuse(403, "A connection from another site's page.")
        ws = web.WebSocketResponse(heartbeat=10, max_msg_size=MAX_COMMAND)
        browser = hub.join(ws, request.transport)
        if browser is None:
            return _refuse(503, "Too many browsers are connected to this panel.")
        try:
            await ws.prepare(request)
        except BaseException:
            hub.leave(browser)
            raise
        sending = request.loop.create_task(browser.send_all())
        try:
            bucket = TokenBucket()
            async for message in ws:
                if message.type not in (WSMsgType.TEXT, WSMsgType.BINARY):
                    continue
                browser.post(await _answer(message, bucket, operations, submit))
                if bucket.flooding:
                    browser.close("too many commands")
                if browser.closing:
                    break
                await browser.room()
        finally:
            sending.cancel()
            browser.close()
            try:
                await asyncio.shield(browser.closing)
            finally:
                hub.leave(browser)
        return ws

    for path in _FILES:
        app.router.add_get(path, _file)
    app.router.add_get("/ws", websocket)
    return app
