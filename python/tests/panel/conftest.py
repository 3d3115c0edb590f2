"""The panel's tests: qapi-panel in this namespace (the library's host),
qapi-sim in the second one (../conftest.py), and headless Chromium driven
by Selenium in this namespace too, so the page, its server and the browser
never leave the two private namespaces.

The screenshots go to $QAPI_PANEL_SCREENSHOTS (CTest: the build folder).
"""
import shutil
import tempfile

import pytest

pytest.importorskip("selenium")
pytest.importorskip("aiohttp")
from panel_support import PANEL_URL, Panel, chromium  # noqa: E402


@pytest.fixture
def panel():
    """panel(*arguments, listen=..., prefix=...): a started qapi-panel, stopped at the end."""
    started = []

    def start(*arguments, listen="127.0.0.1:8080", wait=True, prefix=()):
        p = Panel(*arguments, listen=listen, prefix=prefix)
        started.append(p)
        return p.ready() if wait else p

    yield start
    for p in started:
        p.stop()


@pytest.fixture
def browser():
    """browser(url): a new headless Chromium of its own (empty profile) at
    `url`, quit at the end."""
    drivers, profiles = [], []

    def open_page(url=PANEL_URL):
        profiles.append(tempfile.mkdtemp(prefix="qapi-panel-chromium-"))
        drivers.append(chromium(profiles[-1]))
        drivers[-1].get(url)
        return drivers[-1]

    yield open_page
    for driver in drivers:
        driver.quit()
    for profile in profiles:
        shutil.rmtree(profile, ignore_errors=True)
