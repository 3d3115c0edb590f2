"""An operator panel in the browser, on the qapi package and aiohttp.

    python -m qapi.panel --station 17 --watch 201-232,250 [--feed HOST:PORT] [--link HOST:PORT]
                         [--station-port 5001] [--listen 127.0.0.1:8080] [--token-file FILE]

The page shows a lamp per watched extension, the operator's own station
with a button per operation (enabled as the station's last snapshot
allows), the parked calls, the last call records and the route questions;
every browser connected sees the same.
"""
