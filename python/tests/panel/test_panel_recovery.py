"""The page says when the panel or the station cannot be reached, and finds them again."""
import time

from selenium.webdriver.common.by import By

from panel_support import button, connected, has_text, lamp_is, registered, text, until
from raw_websocket import RawWebSocket


def test_the_page_waits_for_the_station_and_finds_a_restarted_panel(start_sim, panel, browser):
    first = panel("--station", "17", "--watch", "17")
    page = browser()
    until(page, connected, "the page connected")
    # No call server yet: the station cannot register.
    banner = page.find_element(By.ID, "station-down")
    assert banner.is_displayed() and "Station 17 is not registered yet" in banner.text
    assert not page.find_element(By.CSS_SELECTOR, '#operations button[data-op="newcall"]').is_enabled()

    sim = start_sim()
    # The library asks again 6 seconds after its first registration.
    until(page, registered, "the station registered once the server answered", seconds=20)
    assert not banner.is_displayed()
    until(page, lamp_is(17, 1), "the lamp reported")

    first.stop()
    until(page, has_text("#connection", "panel unreachable"), "the page noticed the panel gone")
    assert all(not b.is_enabled() for b in page.find_elements(By.CSS_SELECTOR, "#operations button"))
    panel("--station", "17", "--watch", "17")
    until(page, registered, "the page found the new panel and its station", seconds=30)
    assert text(page, "#connection") == "connected"
    sim.send("ring 17 4711")
    until(page, lamp_is(17, 2), "the page follows the new panel")
    until(page, has_text("#call-state", "ringing"), "the ring on the own station")

    # The server goes away in the middle of the call: the station fails 6 seconds later.
    sim.stop()
    until(page, has_text("#station-down", "Station 17 is unreachable: Quentara is not responding"),
          "the page says the station failed", seconds=20)
    assert text(page, "#reg") == "failed" and text(page, "#connection") == "connected"
    assert not button(page, "answer").is_enabled()


def test_a_panel_that_stops_tells_its_connections_and_ends_at_once(sim_namespace, panel):
    server = panel("--station", "17")
    listening = RawWebSocket()
    assert listening.message()["type"] == "state"
    RawWebSocket(receive_buffer=4096)           # one that never reads
    start = time.monotonic()
    server.process.terminate()
    assert server.process.wait(10) == 0 and time.monotonic() - start < 3
    assert listening.close_code() == 1001       # going away
