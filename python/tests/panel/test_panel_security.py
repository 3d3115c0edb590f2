"""Who may reach the panel: loopback without a token, anything else with it."""
import base64
import http.client
import os

from selenium.webdriver.common.by import By

from panel_support import connected, text, until

TOKEN = "3f9c2a7e51b04d6a"
OUTSIDE = "10.78.0.1"          # this namespace's end of the veth pair: reachable from the other host


def request(host, port, path="/", headers=None):
    """(status, body, headers) of a GET; a WebSocket handshake when `headers` ask for one."""
    connection = http.client.HTTPConnection(host, port, timeout=10)
    try:
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.read().decode("utf-8", "replace"), response.headers
    finally:
        connection.close()


def handshake(origin, **more):
    return dict({"Connection": "Upgrade", "Upgrade": "websocket", "Sec-WebSocket-Version": "13",
                 "Sec-WebSocket-Key": base64.b64encode(os.urandom(16)).decode(), "Origin": origin}, **more)


def test_beyond_loopback_the_panel_needs_its_token_everywhere(sim, panel, browser, tmp_path):
    refused = panel("--station", "17", listen=f"{OUTSIDE}:8443", wait=False)
    status, lines = refused.ended()
    assert status == 2 and "needs --token or --token-file" in lines

    token_file = tmp_path / "token"
    token_file.write_text(TOKEN + "\n")
    panel("--station", "17", "--watch", "201", "--token-file", str(token_file), listen=f"{OUTSIDE}:8443")
    origin = f"http://{OUTSIDE}:8443"
    for path in ("/", "/panel.js", "/panel.css", "/ws"):
        assert request(OUTSIDE, 8443, path)[0] == 401, path
    assert request(OUTSIDE, 8443, "/ws", handshake(origin))[0] == 401
    assert request(OUTSIDE, 8443, "/?token=" + TOKEN[:-1] + "0")[0] == 401
    bearer = {"Authorization": "Bearer " + TOKEN}
    status, page, _ = request(OUTSIDE, 8443, "/", bearer)
    assert status == 200 and "<title>Switchboard</title>" in page
    # The WebSocket takes its own page's origin only.
    assert request(OUTSIDE, 8443, "/ws", handshake("http://evil.example", **bearer))[0] == 403
    assert request(OUTSIDE, 8443, "/ws", handshake(origin, **bearer))[0] == 101

    without = browser(origin + "/")
    assert "needs its token" in text(without, "body")
    assert not without.find_elements(By.ID, "lamps")
    page = browser(origin + "/?token=" + TOKEN)
    until(page, connected, "the page with its token connected")
    assert "token" not in page.current_url   # the cookie carries it from here on


def test_on_loopback_only_loopback_names_and_the_origins_allowed_are_taken(sim, panel):
    panel("--station", "17", "--origin", "https://panel.example.com")
    status, _, headers = request("127.0.0.1", 8080)
    assert status == 200
    policy = headers["Content-Security-Policy"]
    assert "script-src 'self'" in policy and "frame-ancestors 'none'" in policy
    # A page elsewhere reaching this machine through a name of its own.
    assert request("127.0.0.1", 8080, "/", {"Host": "evil.example:8080"})[0] == 403
    assert request("127.0.0.1", 8080, "/ws", handshake("http://evil.example:8080"))[0] == 403
    assert request("127.0.0.1", 8080, "/ws", handshake("http://127.0.0.1:8080"))[0] == 101
    # The origin of a reverse proxy's pages, named on the command line.
    assert request("127.0.0.1", 8080, "/ws", handshake("https://panel.example.com"))[0] == 101
