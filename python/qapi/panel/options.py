"""The panel's command line."""
import argparse
import ipaddress
import re

MAX_LAMPS = 512          # what one station client can watch
MIN_TOKEN = 12           # characters; a short token is guessed quickly


def extensions(text):
    """'201-232,250' -> [201, ..., 232, 250], in order, each once."""
    seen, out = set(), []
    for part in filter(None, (p.strip() for p in text.split(","))):
        first, dash, last = part.partition("-")
        try:
            low, high = int(first), int(last if dash else first)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{part!r} is neither an extension nor a range like 201-232")
        if low < 0 or high < low or high > 0x7FFFFFFF:
            raise argparse.ArgumentTypeError(f"{part!r} is not a range of extensions")
        if high - low >= MAX_LAMPS:
            raise argparse.ArgumentTypeError(f"{part!r} names more than {MAX_LAMPS} extensions")
        for extension in range(low, high + 1):
            if extension not in seen:
                seen.add(extension)
                out.append(extension)
    if len(out) > MAX_LAMPS:
        raise argparse.ArgumentTypeError(f"a station watches at most {MAX_LAMPS} extensions, not {len(out)}")
    return out


def endpoint(text):
    """'HOST:PORT' or '[IPv6]:PORT' -> (host, port)."""
    host, colon, port = text.rpartition(":")
    if host.startswith("[") and host.endswith("]"):
        host = host[1:-1]
    if not colon or not host or not port.isdigit() or not 0 < int(port) < 65536:
        raise argparse.ArgumentTypeError(f"{text!r} is not HOST:PORT")
    return host, int(port)


def port(text):
    if not text.isdigit() or not 0 < int(text) < 65536:
        raise argparse.ArgumentTypeError(f"{text!r} is not a port")
    return int(text)


def is_loopback(host):
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def parser():
    p = argparse.ArgumentParser(
        prog="qapi-panel",
        description="An operator panel in the browser: busy lamps, the operator's own station, "
                    "parked calls and call records.")
    p.add_argument("--station", type=int, required=True, help="the operator's station (-1: the server's choice)")
    p.add_argument("--watch", type=extensions, default=[], metavar="LIST",
                   help="extensions to watch, e.g. 201-232,250 (at most 512)")
    p.add_argument("--feed", type=endpoint, metavar="HOST:PORT", help="the server's call-record feed")
    p.add_argument("--link", type=endpoint, metavar="HOST:PORT",
                   help="the server's routing link: its route questions can be answered from the page")
    p.add_argument("--station-port", type=port, default=5001, metavar="PORT", help="the station protocol's UDP port")
    p.add_argument("--listen", type=endpoint, default=("127.0.0.1", 8080), metavar="ADDR:PORT",
                   help="where the page is served (127.0.0.1:8080)")
    p.add_argument("--token", help="every page and connection needs this token (needed unless on loopback)")
    p.add_argument("--token-file", metavar="FILE", help="the token's first line, instead of --token")
    p.add_argument("--origin", action="append", default=[], metavar="URL",
                   help="a further origin whose pages may connect, e.g. https://panel.example.com "
                        "behind a reverse proxy (the panel's own always may)")
    p.add_argument("--records", type=int, default=20, metavar="N", help="call records kept for the page (20)")
    p.add_argument("--flush-ms", type=int, default=50, metavar="MS",
                   help="changes reach the browsers at most this often (50)")
    p.add_argument("--library", metavar="PATH", help="libqapi to load (else $QAPI_LIBRARY, the build tree, the system)")
    return p


def parse(argv=None):
    p = parser()
    o = p.parse_args(argv)
    if o.token and o.token_file:
        p.error("--token and --token-file exclude each other")
    if o.token_file:
        try:
            with open(o.token_file, encoding="utf-8") as f:
                o.token = f.readline().strip()
        except OSError as e:
            p.error(f"cannot read the token file: {e.strerror}")
    if o.token is not None and len(o.token) < MIN_TOKEN:
        p.error(f"the token is shorter than {MIN_TOKEN} characters")
    if not o.token and not is_loopback(o.listen[0]):
        p.error(f"listening on {o.listen[0]}, beyond this machine, needs --token or --token-file: "
                "the panel controls a telephone")
    for origin in o.origin:
        if not re.fullmatch(r"https?://[^/?#\s]+", origin):
            p.error(f"--origin wants scheme://host[:port], not {origin!r}")
    if not 1 <= o.records <= 1000:
        p.error("--records takes 1 to 1000")
    if not 10 <= o.flush_ms <= 5000:
        p.error("--flush-ms takes 10 to 5000")
    if not -0x80000000 <= o.station <= 0x7FFFFFFF:
        p.error("--station does not fit 32 bits")
    return o
