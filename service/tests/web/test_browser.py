"""The web page in headless Chromium against doorlinkd serve and a doorsim
fleet, all inside the tests' own network namespace."""
import json
import time

from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import Select

from conftest import CARDS, CONTROLLERS, e2e


def natural_width(page, css):
    return page.js("const img = document.querySelector(arguments[0]); return img ? img.naturalWidth : 0;", css)


def test_sign_in_shows_the_fleet_and_sign_out_forgets_the_token(page, fleet):
    page.sign_in(fleet.admin)
    assert page.one("#who").text.endswith("(admin)")
    page.go("controllers", "#controllers-body tr[data-controller]")
    shown = [row.get_attribute("data-controller") for row in page.all("#controllers-body tr[data-controller]")]
    assert shown == fleet.names
    # The door state is read on demand, from the controller itself.
    first = f'#controllers-body tr[data-controller="{fleet.names[0]}"]'
    page.one(f"{first} [data-test=check]").click()
    page.wait(lambda d: page.one(f"{first} [data-test=door-value]").text.startswith("state "))
    assert page.one(f"{first} [data-test=reachable]").text == "yes"
    page.screenshot("controllers")
    assert page.problems() == []

    page.one("#sign-out").click()
    page.wait(lambda d: page.one("#sign-in").is_displayed())
    assert page.js("return sessionStorage.getItem('doorlinkd.token')") is None
    assert page.js("return document.cookie") == ""
    assert not page.one("#nav").is_displayed()
    page.screenshot("sign-in")


def test_a_record_thumbnail_loads_after_an_archive(page, fleet):
    page.sign_in(fleet.operator)
    page.go("records", "#records")
    page.one("#archive-now").click()
    page.wait(lambda d: "Archive run" in page.one("#notice").text, message=page.error_banner())
    deadline = time.monotonic() + 60
    while fleet.serve.json("GET", "/api/v1/records?limit=1")["total"] < CONTROLLERS:
        assert time.monotonic() < deadline, "the archive stored no records"
        time.sleep(0.5)
    page.go("records", "#records [data-test=record]")
    page.wait(lambda d: natural_width(page, "#records img[data-test=thumbnail]") > 0)
    # The controller's own time, in its site's zone (the fleet's host keeps UTC).
    newest = fleet.serve.json("GET", "/api/v1/records?limit=1")["records"][0]
    t = newest["time"]
    local = f"{t[0:4]}-{t[4:6]}-{t[6:8]} {t[8:10]}:{t[10:12]}:{t[12:14]}"
    shown = page.one("#records [data-test=record-time]").text
    assert shown.startswith(local + " ") and len(shown) > len(local) + 1, (shown, newest)
    assert newest["instant"].endswith("Z") and newest["zone"] and newest["site"] == "main"
    source = page.one("#records img[data-test=thumbnail]").get_attribute("src")
    assert source.startswith("blob:")  # fetched with the token, never by URL
    page.screenshot("records")
    page.one("#records img[data-test=thumbnail]").click()
    page.wait(lambda d: natural_width(page, "#photo-large") > 0)
    page.screenshot("photo")
    page.one("#photo-close").click()
    assert page.problems() == []


def test_a_pushed_photo_appears_among_the_live_events_without_a_reload(page, fleet):
    page.sign_in(fleet.viewer)
    page.go("events", "#events")
    page.wait(lambda d: page.one("#stream-state").get_attribute("data-state") == "live")
    page.js("window.unreloaded = true")
    fleet.push("photo 2 2 1")  # card 00200001, Ada's
    pushed = time.monotonic()
    row = '#events-body tr[data-kind="photo"]'
    page.wait(lambda d: any("00200001" in r.text for r in page.all(row)), timeout=5,
              message="the pushed photo did not appear within 5 s")
    assert time.monotonic() - pushed < 5.5
    # The stream names the card's holder as the list of events does.
    assert any("00200001 (Ada Lindqvist)" in r.text for r in page.all(row))
    ids = [int(r.get_attribute("data-id")) for r in page.all("#events-body tr")]
    assert ids == sorted(ids, reverse=True) and len(set(ids)) == len(ids)  # newest on top, each once
    assert page.js("return window.unreloaded") is True
    page.wait(lambda d: natural_width(page, "#events-body tr:first-child img[data-test=thumbnail]") > 0)
    page.screenshot("events")
    assert page.problems() == []


def test_a_viewer_sees_no_open_button_and_a_forged_open_is_refused(page, fleet):
    page.sign_in(fleet.viewer)
    page.go("controllers", "#controllers-body tr[data-controller]")
    assert page.one("#who").text.endswith("(viewer)")
    assert page.all("[data-test=open-door]") == []
    assert page.all("#sync-all") == []
    assert not page.one("#nav-audit").is_displayed()
    path = f"/api/v1/controllers/{fleet.names[0]}/doors/0/open"
    assert page.fetch("POST", path) == 403
    # The same request with an operator's token opens the door.
    assert fleet.serve.request("POST", path, token=fleet.operator)[0] == 200


def test_an_operator_opens_a_door_only_after_saying_so_twice(page, fleet):
    def openings():
        status, _, body = fleet.serve.request("GET", "/api/v1/audit?limit=500", token=fleet.admin)
        assert status == 200
        return [e for e in json.loads(body)["audit"] if e["action"].endswith("/doors/2/open")]

    page.sign_in(fleet.operator)
    page.go("controllers", "#controllers-body tr[data-controller]")
    row = f'#controllers-body tr[data-controller="{fleet.names[1]}"]'
    Select(page.one(f"{row} [data-test=door]")).select_by_value("2")
    before = len(openings())
    page.one(f"{row} [data-test=open-door]").click()
    page.wait(EC.alert_is_present())
    assert fleet.names[1] in page.driver.switch_to.alert.text
    page.driver.switch_to.alert.dismiss()
    time.sleep(1)  # a request would have been audited by now
    assert len(openings()) == before
    page.one(f"{row} [data-test=open-door]").click()
    page.wait(EC.alert_is_present())
    page.driver.switch_to.alert.accept()
    page.wait(lambda d: "opened" in page.one("#notice").text, message=page.error_banner())
    assert len(openings()) == before + 1


def test_markup_from_the_service_is_shown_as_text(page, fleet):
    text = '<img src=x id=injected onerror="window.injected=1"><script>window.injected=2</script> jammed'
    page.sign_in(fleet.admin)
    page.go("controllers", "#controllers-body tr[data-controller]")
    fleet.push(f"error 1 {text}")
    cell = f'#controllers-body tr[data-controller="{fleet.names[0]}"] [data-test=last-error]'
    page.wait(lambda d: text in page.one(cell).text)
    page.go("events", '#events-body tr[data-kind="error"]')
    page.wait(lambda d: page.one('#events-body tr[data-kind="error"] [data-test=error-text]').text == text)
    assert page.all("#injected") == [] and page.all("#view script") == []
    assert page.js("return window.injected") is None
    page.screenshot("events-markup")


def test_cards_are_searched_and_paged_by_the_server_and_edited_by_operators(page, fleet):
    page.sign_in(fleet.operator)
    page.go("cards", "#cards [data-card]")
    assert len(page.all("#cards [data-card]")) == 50
    assert page.one("[data-test=range]").text == f"1–50 of {CARDS:,}"
    page.one("[data-test=next]").click()
    page.wait(lambda d: page.one("[data-test=range]").text.startswith("51–100"))
    page.screenshot("cards")

    card = e2e.card_row(CARDS - 1)[0]  # the last card row
    page.one("#card-search").send_keys(card)
    page.wait(lambda d: [r.get_attribute("data-card") for r in page.all("#cards [data-card]")] == [card])
    page.one(f'#cards [data-card="{card}"] [data-test=edit-card]').click()
    password = page.one("#card-field-password")
    password.clear()
    password.send_keys("654321")
    page.screenshot("card-edit")
    page.one("#card-save").click()
    page.wait(lambda d: "saved" in page.one("#notice").text, message=page.error_banner())
    stored = fleet.serve.json("GET", f"/api/v1/cards?search={card}")["cards"]
    assert [c["password"] for c in stored] == ["654321"]

    # A refused edit shows the service's own words and changes nothing.
    page.one(f'#cards [data-card="{card}"] [data-test=edit-card]').click()
    page.one("#card-field-monday").send_keys("2500-2600-01;")
    page.one("#card-save").click()
    page.wait(lambda d: "monday" in page.one("[data-test=card-error]").text)
    page.screenshot("card-refused")
    assert fleet.serve.json("GET", f"/api/v1/cards?search={card}")["cards"][0]["monday"] == ""


def test_an_operator_keeps_sites_and_their_zones_and_a_viewer_only_reads_them(page, fleet):
    page.sign_in(fleet.operator)
    page.go("sites", '#sites tr[data-site="main"]')
    assert page.one('#sites tr[data-site="main"] [data-test=site-controllers]').text == ", ".join(fleet.names)
    page.one("#site-new").click()
    page.one("#site-field-name").send_keys("lisbon")
    page.one("#site-field-zone").send_keys("Europe/Nowhere")
    page.one("#site-save").click()
    page.wait(lambda d: "Europe/Nowhere" in page.one("[data-test=site-error]").text)  # the service's own words
    page.one("#site-field-zone").clear()
    page.one("#site-field-zone").send_keys("Europe/Lisbon")
    page.one("#site-field-description").send_keys("Warehouse <b>by the river</b>")
    page.one("#site-save").click()
    page.wait(lambda d: "saved" in page.one("#notice").text, message=page.error_banner())
    lisbon = '#sites tr[data-site="lisbon"]'
    assert page.one(f"{lisbon} [data-test=zone]").text == "Europe/Lisbon"
    assert page.one(f"{lisbon} [data-test=local-now]").text.endswith(("GMT", "WET", "WEST", "GMT+1"))
    assert "<b>by the river</b>" in page.one(lisbon).text
    page.screenshot("sites")

    # A holiday of every year, added on the site's row and removed again.
    page.open_form(f"{lisbon} [data-test=add-holiday]", "#holiday-field-date").send_keys("12242026")
    page.one("#holiday-field-yearly").click()
    page.screenshot("holiday-form")
    assert page.save("holiday") == ""
    page.wait(lambda d: page.one(f"{lisbon} [data-test=holidays]").text.startswith("12-24 yearly"))
    page.one(f"{lisbon} [data-test=remove-holiday]").click()
    page.wait(EC.alert_is_present())
    page.driver.switch_to.alert.accept()
    page.wait(lambda d: page.one(f"{lisbon} [data-test=holidays]").text == "none", message=page.error_banner())
    assert fleet.serve.json("GET", "/api/v1/holidays?site=lisbon")["holidays"] == []

    # A site with controllers stays, and the refusal names them.
    page.one('#sites tr[data-site="main"] [data-test=remove-site]').click()
    page.wait(EC.alert_is_present())
    page.driver.switch_to.alert.accept()
    page.wait(lambda d: fleet.names[0] in page.error_banner())
    assert [s["name"] for s in fleet.serve.json("GET", "/api/v1/sites")["sites"]] == ["lisbon", "main"]

    page.sign_in(fleet.viewer)
    page.go("sites", lisbon)
    assert page.all("#site-new") == [] and page.all("[data-test=edit-site]") == []
    assert page.all("[data-test=add-holiday]") == []
    assert page.problems() == []


def test_every_page_renders_without_errors(page, fleet):
    page.sign_in(fleet.admin)
    page.go("controllers", "#controllers-body tr[data-controller]")
    page.one("#sync-all").click()
    page.wait(lambda d: page.all("#notice a"), message=page.error_banner())
    page.one("#notice a").click()
    # The run's page follows its results as the controllers finish.
    page.wait(lambda d: len(page.all("#sync-results tbody tr")) == CONTROLLERS, timeout=120)
    page.screenshot("sync-run")
    page.go("audit", "#audit tbody tr")
    assert any("/api/v1/sync" in row.text for row in page.all("#audit tbody tr"))
    page.screenshot("audit")
    for route, ready, name in [("sync", "#sync-runs [data-test=run-link]", "sync-runs"),
                               ("sites", "#sites tr[data-site]", "sites-admin"),
                               ("people", "#people [data-person]", "people-admin"),
                               ("groups", "#groups [data-group]", "groups"),
                               ("schedules", "#schedules [data-schedule]", "schedules"),
                               ("cards", "#cards [data-card]", "cards-admin"),
                               ("records", "#records", "records-admin"),
                               ("events", "#events-body tr", "events-admin")]:
        page.go(route, ready)
        assert page.error_banner() == "", route
        page.screenshot(name)
    assert page.problems() == []


def test_a_tab_without_a_token_sends_none_and_never_locks_out_its_address(page, fleet):
    # A tab that signs out while its requests are under way asks as a
    # stranger: no Authorization header, which is never counted against it.
    page.sign_in(fleet.viewer)
    sent = page.driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "import('/static/api.js').then(async (api) => {"
        "  api.setToken('');"
        "  const seen = [];"
        "  const real = window.fetch;"
        "  window.fetch = (path, options) => { seen.push(Object.keys(options.headers || {})); return real(path, options); };"
        "  for (let i = 0; i < 15; i++) { try { await api.api('GET', '/api/v1/me'); } catch (e) { seen.push(e.status); } }"
        "  window.fetch = real;"
        "  done(seen);"
        "});")
    assert [s for s in sent if isinstance(s, list)] == [[]] * 15, sent
    assert [s for s in sent if isinstance(s, int)] == [401] * 15, sent
    page.sign_in(fleet.viewer)  # not blocked
    assert page.one("#who").text.endswith("(viewer)")
