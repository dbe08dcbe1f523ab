"""Each family of calls once against doorsim's controllers on loopback."""

from __future__ import annotations

import os
import subprocess
from datetime import date, datetime, time as clock

import pytest

import doorlink


def test_door_commands(door):
    sent = door.set_clock()
    reading = door.read_clock()
    assert abs((reading.time - sent).total_seconds()) < 5
    assert reading.week_day == (sent.isoweekday() % 7)
    door.open_door(1)
    door.open_door(2, extra=5)
    door.initialise()
    assert door.current_state() in range(4)
    assert door.current_state(extra=1) in range(4)
    assert len(door.state_reply(1)) == 14 and len(door.state_reply(0)) == 10
    assert all(0 <= v < 65536 for v in door.record_and_direction())
    door.set_lock_and_button_times([clock(8, 30), "1730"], ["1200"])
    door.set_lock_and_button_times(["0800-1200-01"], "1300-1730-01;", long=True)
    door.set_lock_and_button_times("0830", "1200", extra=3)
    door.set_modes([1, 2, 3])
    door.set_modes(b"\x03\x02\x01", extra=1)
    door.set_rest_days([True, False, False, False, False, False, True], [date(2026, 1, 1), "1225"])
    door.photo_test()
    door.flag_card("00112345", kind=1)

    with pytest.raises(doorlink.DoorlinkError) as failure:
        door.open_door(7)
    assert failure.value.export == "DoorCompelOpenOrClose"
    assert door.address in str(failure.value) and door.mac in str(failure.value)
    with pytest.raises(doorlink.DoorlinkError, match="DoorSetTime failed for controller 127"):
        doorlink.Controller(door.address, "00-11-22-33-44-55").set_clock()


def test_set_time_to_sets_the_given_local_time(door):
    door.set_time_to(datetime(2030, 12, 31, 23, 59, 50))
    reading = door.read_clock()
    assert datetime(2030, 12, 31, 23, 59, 50) <= reading.time < datetime(2031, 1, 1)
    assert reading.week_day == 2  # a Tuesday
    door.set_time_to("20280229120000")
    assert door.read_clock().time.date() == date(2028, 2, 29)
    with pytest.raises(doorlink.DoorlinkError, match="DoorSetTimeTo failed .*20300229120000"):
        door.set_time_to("20300229120000")


def test_adaptive_wait_for_one_controller_or_all(door):
    doorlink.set_adaptive_wait(20, door.address)
    assert door.read_clock().week_day in range(7)
    assert door.current_state() in range(4)
    doorlink.set_adaptive_wait(5)
    assert door.read_clock().week_day in range(7)
    doorlink.set_adaptive_wait(0)
    with pytest.raises(doorlink.DoorlinkError, match="SetAdaptiveWait failed: 2001 ms"):
        doorlink.set_adaptive_wait(2001)
    with pytest.raises(doorlink.DoorlinkError, match=r"SetAdaptiveWait failed for controller 127\.1: 20 ms"):
        doorlink.set_adaptive_wait(20, "127.1")


def test_monitor_yields_pushed_reports_and_photos(sim, door, home):
    with door.monitor(controller_number=4) as monitor:
        assert monitor.receive(timeout=0.2) is None
        sim.control("error 1 door 1 held open too long")
        report = monitor.receive()
        assert isinstance(report, doorlink.ErrorReport)
        assert report.text == "door 1 held open too long" and report.controller_number == 4
        assert report.raw.endswith(b": 004\ndoor 1 held open too long")
        sim.control("photo 1 12 345")
        photo = monitor.receive()
        assert isinstance(photo, doorlink.Photo) and photo.card == "01200345"
        assert photo.path.read_bytes()[:2] == b"\xff\xd8"
        assert photo.taken is not None and abs((photo.taken - datetime.now()).total_seconds()) < 120
        handle = monitor.handle
    assert (home / "error" / "error004.txt").read_bytes().endswith(b"door 1 held open too long\n")
    with pytest.raises(OSError):
        os.fstat(handle)  # the socket was closed on leaving the block


def test_card_lists_round_trip(door, home):
    source = home / "cards.ini"
    fields = {"CardNo": ["00112345", "00254321,00300001", "12800009"], "SerialNo": ["123456"] * 3,
              "Password": ["654321"] * 3, "UserStyle": ["1", "0", "1"], "OpenStyle": ["2", "1", "0"]}
    fields.update({day: ["0800-1200-01;"] * 3 for day in
                   ("Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday")})
    source.write_text("".join(f"[{name}]\n" + "".join(f"{name}{i + 1}={v}\n" for i, v in enumerate(values))
                              for name, values in fields.items()))
    listed = doorlink.convert_card_list(source, 5, long=True)
    assert listed.stat().st_size == 3 * 360
    assert doorlink.card_record(source, 2, long=True) == listed.read_bytes()[360:720]
    assert len(doorlink.card_record(source, 1)) == 300
    doorlink.write_card(6, "00100001", "111111", "222222", days="0700-1900-01;", append=False)
    assert doorlink.write_card(6, "00100002", "111111", "222222").stat().st_size == 600

    assert door.download_cards(5, long=True) == 3
    assert doorlink.registry().download_progress(5) == (3, 3)
    read_back = door.read_back_cards(5)
    ini = doorlink.read_back_to_ini(read_back, 5)
    returned = doorlink.registry(ini)
    for name, values in fields.items():
        assert [returned.value(name, f"{name}{i + 1}") for i in range(3)] == values, name
    with pytest.raises(doorlink.DoorlinkError, match="DoorDownName"):
        door.download_cards(999, count=1)


def test_records_with_and_without_photos(door):
    with_photos = door.fetch_records(1)
    assert with_photos.result is doorlink.RetrievalResult.END_MARKER
    assert len(with_photos.records) == 3
    assert all(r.photos and r.photos[0].read_bytes()[:2] == b"\xff\xd8" for r in with_photos.records)
    without = door.fetch_records(2, photos=False)
    assert without.result in (doorlink.TransferResult.ALL_BLOCKS, doorlink.TransferResult.NOTHING_STORED)
    assert [r.card for r in without.records] == [r.card for r in with_photos.records]
    assert doorlink.registry().retrieval_progress(2) == (3, 3)


def test_devices_registry_and_framed_commands(sim):
    first, second = sim.controllers
    entries = doorlink.discover(first["address"], second["address"])
    assert {e.address for e in entries} == {first["address"], second["address"]}
    other = doorlink.Controller(second["address"], second["mac"])
    moved = other.set_network(doorlink.NetworkSettings(second["address"], device_number=7,
                                                       time_value=30, image_mode=2))
    entry = doorlink.registry().find(second["address"])
    assert (entry.device_number, entry.time_value, entry.image_mode) == (7, 30, 2)
    assert moved.read_mac() == second["mac"]
    assert other.set_mac("00a0c90000ff") == "00a0c90000ff"
    assert other.set_mac_with_serial("00a0c90000fe") == doorlink.serial_number("00a0c90000fe")
    assert doorlink.serial_number("00A0C9000001") == "FEFFFF365FFF"
    with pytest.raises(doorlink.DoorlinkError, match="TransMacToSerialNo"):
        doorlink.serial_number("00a0c900000")

    command, payload = doorlink.Controller(first["address"], first["mac"]).framed_command(
        0x01, b"\x12\x34", node=int(first["node"]), station=bytes.fromhex(first["station"]))
    assert (command, payload) == (1, b"\x12\x34")
    doorlink.set_port_range(0, 65535)
    with pytest.raises(doorlink.DoorlinkError):
        doorlink.set_port_range(-1, 70000)
    if os.geteuid() == 0:
        assert doorlink.ping("127.0.0.1") is True


def test_card_reader(home):
    reader = subprocess.Popen([os.environ["DOORSIM"], "reader", "--card", "FFFFFFFF"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    try:
        line = reader.stdout.readline()
        assert line.startswith("reader: ")
        assert doorlink.read_card(line.split(" ", 1)[1].strip()) == (4294967295, "25565535")
        with pytest.raises(doorlink.DoorlinkError, match="GetCardNo"):
            doorlink.read_card(str(home / "no-such-port"))
    finally:
        reader.terminate()
        reader.wait(10)
