"""What the panel's tests share: qapi-panel as a program, a headless
Chromium of its own, and the page's conditions to wait for."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

PYTHON_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir))
CHROMIUM = os.environ.get("QAPI_CHROMIUM", shutil.which("chromium") or "/usr/bin/chromium")
CHROMEDRIVER = os.environ.get("QAPI_CHROMEDRIVER", shutil.which("chromedriver") or "/usr/bin/chromedriver")
PANEL_URL = "http://127.0.0.1:8080/"
WAIT = 15.0


def screenshot_path(name):
    folder = os.environ.get("QAPI_PANEL_SCREENSHOTS", os.path.join(PYTHON_DIR, os.pardir, "build", "plain"))
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, name)


class Panel:
    """qapi-panel as a program, with the lines it printed; `prefix` is a
    command that runs it (e.g. in namespaces of its own)."""

    def __init__(self, *arguments, listen="127.0.0.1:8080", prefix=()):
        env = dict(os.environ, PYTHONPATH=PYTHON_DIR, PYTHONDONTWRITEBYTECODE="1")
        self.arguments = ["--listen", listen, *arguments]
        self.lines = []
        self._changed = threading.Condition()
        self.process = subprocess.Popen([*prefix, sys.executable, "-m", "qapi.panel", *self.arguments], env=env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, bufsize=1)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self._changed:
                self.lines.append(line.rstrip("\n"))
                self._changed.notify_all()

    def ready(self):
        deadline = time.monotonic() + WAIT
        with self._changed:
            while not any(line.startswith("panel: http") for line in self.lines):
                if self.process.poll() is not None or time.monotonic() > deadline:
                    raise AssertionError("the panel did not start:\n" + "\n".join(self.lines))
                self._changed.wait(0.1)
        assert self.process.poll() is None, "the panel ended:\n" + "\n".join(self.lines)
        return self

    def ended(self, seconds=WAIT):
        """The exit status and the lines of a panel that ends by itself."""
        status = self.process.wait(seconds)
        self._reader.join(5)
        return status, "\n".join(self.lines)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def chromium(profile):
    """Headless Chromium with the empty profile `profile`, kept off every network service."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1400,1000", "--user-data-dir=" + profile):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def until(driver, condition, what, seconds=WAIT):
    """Waits for condition(driver) to hold (a page condition, polled)."""
    try:
        return WebDriverWait(driver, seconds, poll_frequency=0.05).until(condition)
    except Exception as e:
        raise AssertionError(f"{what}: not within {seconds} s ({type(e).__name__})") from None


def text(driver, css):
    return driver.find_element(By.CSS_SELECTOR, css).text


def has_text(css, wanted):
    def check(driver):
        found = driver.find_elements(By.CSS_SELECTOR, css)
        return bool(found) and wanted in found[0].text
    return check


def button(driver, op):
    return driver.find_element(By.CSS_SELECTOR, f'#operations button[data-op="{op}"]')


def enabled_operations(driver):
    return {b.get_attribute("data-op") for b in driver.find_elements(By.CSS_SELECTOR, "#operations button")
            if b.is_enabled()}


def lamp(driver, extension):
    return driver.find_element(By.CSS_SELECTOR, f'.lamp[data-ext="{extension}"]')


def lamp_is(extension, status):
    return lambda driver: lamp(driver, extension).get_attribute("data-status") == str(status)


def connected(driver):
    return text(driver, "#connection") == "connected"


def registered(driver):
    return connected(driver) and text(driver, "#reg") == "registered"
