"""The operator's own station, its lamps and its parked calls, from the page."""
from selenium.webdriver.common.by import By

from panel_support import (button, enabled_operations, has_text, lamp, lamp_is, registered, screenshot_path, text,
                      until)

# Deflect and resume need no permission of the snapshot: only registration.
UNGATED = {"deflect"}


def test_a_ring_lights_the_lamp_enables_answer_and_answer_reaches_the_server(sim, panel, browser):
    panel("--station", "17", "--watch", "17,201-203", "--feed", f"{sim.address}:{sim.feed_port}")
    page = browser()
    until(page, registered, "the station registered")
    until(page, lamp_is(17, 1), "the server reported station 17 idle")
    assert enabled_operations(page) == {"newcall"} | UNGATED
    assert lamp(page, 201).get_attribute("data-status") == "1" and not lamp(page, 201).is_enabled()

    sim.send("ring 17 4711")
    until(page, lamp_is(17, 2), "the lamp of 17 rings")
    assert text(page, '.lamp[data-ext="17"]') == "17\nringing"
    until(page, lambda p: button(p, "answer").is_enabled(), "Answer enabled")
    # The snapshot allows answering, and nothing else that needs a permission.
    assert enabled_operations(page) == {"answer"} | UNGATED
    assert text(page, "#display") == "Call from 4711" and text(page, "#number") == "4711"
    assert text(page, "#call-state") == "ringing (alerting)"

    button(page, "answer").click()
    sim.expect(r"station 17: request 0x8. feature key 167")
    until(page, has_text("#call-state", "connected"), "the call connected")
    until(page, lamp_is(17, 3), "the lamp of 17 busy")
    until(page, lambda p: enabled_operations(p) == {"clear", "hold", "suspend", "record_start"} | UNGATED,
          "the operations of a call in progress")
    assert [state.text for state in page.find_elements(By.CSS_SELECTOR, "#calls .state")] == ["Active"]
    assert [party.text for party in page.find_elements(By.CSS_SELECTOR, "#calls .second")] == ["17"]
    # Digits go straight to the call while it allows them.
    page.find_element(By.CSS_SELECTOR, '#pad button[data-key="5"]').click()
    sim.expect(r"station 17: request 0x8. digits 5")
    # Idle again, the pad fills the number field, and Call dials it.
    button(page, "clear").click()
    until(page, lambda p: enabled_operations(p) == {"newcall"} | UNGATED, "idle again")
    for key in "4711":
        page.find_element(By.CSS_SELECTOR, f'#pad button[data-key="{key}"]').click()
    assert page.find_element(By.ID, "dial-number").get_attribute("value") == "4711"
    button(page, "newcall").click()
    sim.expect(r"station 17: ringback with 4711")

    # The feed's records: the simulator hands out two a poll.
    until(page, lambda p: len(p.find_elements(By.CSS_SELECTOR, "#records tr")) >= 2, "call records shown")
    assert "Call record note 2" in text(page, "#records")


def test_parked_calls_are_resumed_and_every_browser_sees_the_same(sim, panel, browser):
    panel("--station", "17", "--watch", "17,201-216", "--link", f"{sim.address}:{sim.adjunct_port}",
          "--feed", f"{sim.address}:{sim.feed_port}")
    first = browser()
    until(first, registered, "the station registered")
    sim.send("park 4712")
    until(first, has_text("#park", "701 4712"), "the parked call listed")
    # A browser that comes late is sent the whole state at once.
    second = browser()
    until(second, has_text("#park", "701 4712"), "the late browser's park list")
    assert text(second, "#reg") == "registered"

    second.find_element(By.CSS_SELECTOR, "#park button").click()
    sim.expect(r"station 17: request 0x8. resume -2303")   # the key 0xFFFFF701
    for page in (first, second):
        until(page, has_text("#call-state", "connected"), "the resumed call connected")
        until(page, lambda p: p.find_element(By.ID, "park-empty").is_displayed(), "the park list emptied")
        until(page, lamp_is(17, 3), "the lamp of 17 busy")

    # Hold the call: dial tone allows picking up a ringing lamp and intruding on a busy one.
    button(first, "hold").click()
    until(first, has_text("#call-state", "dial tone"), "dial tone after hold")
    sim.send("extension 201 2")
    sim.send("extension 202 3")
    until(second, lambda p: lamp(p, 201).is_enabled() and lamp(p, 202).is_enabled(), "lamps 201 and 202 enabled")
    assert not lamp(second, 203).is_enabled()
    lamp(second, 202).click()
    sim.expect(r"station 17: request 0x8. intrude 202")
    until(first, has_text("#call-state", "connected"), "connected to 202")
    until(first, lambda p: not lamp(p, 201).is_enabled(), "no pick-up while in a call")
    button(first, "clear").click()                 # back to dial tone, the first call still held
    until(second, lambda p: lamp(p, 201).is_enabled(), "lamp 201 enabled again")
    lamp(second, 201).click()
    sim.expect(r"station 17: request 0x8. answer watched 201")

    # A route question, answered with the number field.
    until(first, has_text("#link-state", ": up"), "the routing link up")
    sim.send("route 4711 17 4711 17")
    until(first, has_text("#routes", "4711 → 17"), "the route question listed")
    first.find_element(By.ID, "dial-number").send_keys("200")
    first.find_element(By.CSS_SELECTOR, "#routes button").click()
    sim.expect(r'route response .*"200"')
    until(second, lambda p: not p.find_elements(By.CSS_SELECTOR, "#routes li"), "the answered question gone")

    # A moment of a working day, kept for the README's picture.
    sim.send("display 17 Good morning")
    sim.send("park 4713")
    sim.send("extension 205 3")
    until(first, has_text("#park", "702 4713"), "the second parked call")
    until(first, lambda p: len(p.find_elements(By.CSS_SELECTOR, "#records tr")) >= 2, "call records shown")
    until(first, has_text("#display", "Good morning"), "the display")
    first.save_screenshot(screenshot_path("panel.png"))


def test_a_refused_operation_says_so_and_server_texts_stay_text(sim, panel, browser):
    panel("--station", "17", "--watch", "201")
    page = browser()
    until(page, registered, "the station registered")
    sim.send("ring 17 4711")
    until(page, lambda p: button(p, "answer").is_enabled(), "Answer enabled")
    page.find_element(By.ID, "dial-number").send_keys("x")
    button(page, "deflect").click()
    until(page, has_text("#notice", "Deflect refused: the text holds no dial character"), "the refusal shown")
    assert page.find_element(By.ID, "notice").get_attribute("class") == "refused"

    markup = "<img src=x onerror=alert(1)>"   # a display holds 32 characters
    sim.send("display 17 " + markup)
    until(page, has_text("#display", markup), "the display text shown as text")
    assert not page.find_elements(By.CSS_SELECTOR, "img")
