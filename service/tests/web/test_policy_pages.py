"""The people: searched on the server, one person's page with their cards
(never a PIN), groups, validity and where they may enter; an operator
disables a leaver and sees each controller confirm their cards gone; a
viewer reads, and finds no PIN, no Disable and nothing to edit."""
from conftest import PEOPLE

PIN = "123456"  # every person's of the fleet


def test_a_viewer_finds_a_person_and_reads_their_page_without_a_pin(page, fleet):
    page.sign_in(fleet.viewer)
    ident, name, card = PEOPLE[0]
    page.go(f"people?search={name.split()[0]}", "#people")
    assert [r.get_attribute("data-person") for r in page.all("#people tbody tr")] == [ident]
    page.screenshot("people")
    page.one(f'#people tr[data-person="{ident}"] a').click()
    page.wait(lambda d: page.all("#person-access-table"))
    assert page.one("#person-cards tbody").text.startswith(f"{card} {card[2:]}")
    # Office hours on every controller of the site: each shows its ranges.
    assert {r.get_attribute("data-controller") for r in page.all("#person-access-table tbody tr")} == \
        set(fleet.names)
    assert PIN not in page.js("return document.body.innerText") and page.all("#person-disable") == []
    page.screenshot("person-viewer")
    # Nothing to edit anywhere in the policy.
    assert page.all("#person-edit") == []
    for route, ready, new in [("people", "#people [data-person]", "#person-new"),
                              ("groups", "#groups [data-group]", "#group-new"),
                              ("schedules", "#schedules [data-schedule]", "#schedule-new")]:
        page.go(route, ready)
        assert page.all(f"{new}, [data-test^=edit-], [data-test^=remove-]") == [], route
    assert page.problems() == []


def test_an_operator_disables_a_leaver_and_sees_each_controller_confirm(page, fleet):
    fleet.service.run("apply", "--now")  # the controllers hold the people's cards
    ident, name, _ = PEOPLE[1]
    page.sign_in(fleet.operator)
    page.go(f"people/{ident}", "#person-disable")
    page.one("#person-disable").click()
    page.wait(lambda d: page.one("#disable-confirm").is_displayed())
    assert page.one("[data-test=disable-controllers]").text == ", ".join(fleet.names)
    page.screenshot("person-disable")
    page.one("#disable-go").click()
    page.wait(lambda d: page.one("[data-test=leaver-summary]").text.startswith("Disabled. Their cards are gone"),
              timeout=60, message="the removal was not confirmed everywhere")
    assert {r.get_attribute("data-controller") for r in page.all("#leaver-controllers tr")} == set(fleet.names)
    page.screenshot("person-disabled")
    assert PIN not in page.js("return document.body.innerText")
    assert page.problems() == []
