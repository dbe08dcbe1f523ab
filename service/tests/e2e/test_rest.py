"""The REST API of `doorlinkd serve` end to end: thousands of malformed
requests leave it answering without a 5xx, and a doorsim controller is
read, opened (audited) and synced through it."""
import json
import random
import socket
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from urllib.parse import urlparse

import pytest

from serve_process import Serve

MALFORMED_REQUESTS = 2500

# Every route with its path parameters filled in; none names a controller
# that exists, so nothing the fuzzing sends reaches a controller.
ROUTES = [
    ("GET", "/health"), ("GET", "/metrics"), ("GET", "/api/v1/openapi.json"), ("GET", "/api/v1/me"),
    ("GET", "/api/v1/controllers"), ("POST", "/api/v1/controllers"),
    ("GET", "/api/v1/controllers/door9"), ("DELETE", "/api/v1/controllers/door9"),
    ("POST", "/api/v1/controllers/door9/doors/1/open"), ("POST", "/api/v1/controllers/door9/time"),
    ("GET", "/api/v1/sites"), ("POST", "/api/v1/sites"), ("PUT", "/api/v1/sites/site9"),
    ("DELETE", "/api/v1/sites/site9"),
    ("GET", "/api/v1/cards"), ("PUT", "/api/v1/cards/00110001"), ("DELETE", "/api/v1/cards/00110001"),
    ("POST", "/api/v1/cards/import"), ("GET", "/api/v1/cards/export"),
    ("POST", "/api/v1/sync"), ("GET", "/api/v1/sync/runs"), ("GET", "/api/v1/sync/runs/1"),
    ("POST", "/api/v1/archive"), ("GET", "/api/v1/archive/runs"), ("GET", "/api/v1/archive/runs/1"),
    ("GET", "/api/v1/records"), ("GET", "/api/v1/photos/" + "ab" * 32),
    ("GET", "/api/v1/events"), ("GET", "/api/v1/audit"), ("GET", "/"), ("GET", "/static/app.js"),
    ("GET", "/api/v1/people"), ("POST", "/api/v1/people"), ("GET", "/api/v1/people/e9"),
    ("PUT", "/api/v1/people/e9"), ("DELETE", "/api/v1/people/e9"), ("GET", "/api/v1/groups"),
    ("POST", "/api/v1/groups"), ("PUT", "/api/v1/groups/g9"), ("DELETE", "/api/v1/groups/g9"),
    ("GET", "/api/v1/schedules"), ("POST", "/api/v1/schedules"), ("PUT", "/api/v1/schedules/s9"),
    ("DELETE", "/api/v1/schedules/s9"), ("GET", "/api/v1/holidays"), ("POST", "/api/v1/holidays"),
    ("PUT", "/api/v1/holidays/site9/2026-12-24"), ("DELETE", "/api/v1/holidays/site9/2026-12-24"),
    ("GET", "/api/v1/policy/revision"), ("GET", "/api/v1/plans/1"), ("GET", "/api/v1/reports/access"),
    ("GET", "/api/v1/reports/entry"), ("GET", "/api/v1/reports/unused-cards"),
]

BAD_BODIES = [
    b"{", b"}", b"[", b"null", b"42", b'"text"', b"[1,2,3]", b"{\"a\":}", b"{'a': 1}", b"\x00\x01\x02",
    b"\xff\xfe\xfd", b'{"name": "\xff\xfe"}', b'{"controllers": "door9"}', b'{"controllers": [1, 2]}',
    b'{"controllers": ["\\u0000"]}', b'{"controllers": ["' + b"a" * 5000 + b'"]}',
    b'{"serial": {"x": 1}, "password": []}', b'{"serial": "\\u0000\\u0000\\u0000"}',
    b'{"card": "99999999"}', b'{"user_style": 1.5}', b'{"extra_cards": [null]}', b'{"monday": "25:00"}',
    b'{"unknown": true}', b'{"name": "a/b", "address": "x", "mac": "y"}',
    b'{"name": "door9", "address": "127.0.0.1", "mac": "zz"}',
    b'{"name": "door9", "address": "127.0.0.1", "mac": "001122334455", "number": -1}',
    b'{"name": "door9", "address": "not an address", "mac": "001122334455"}',
    b'{"id": "e9", "name": "x", "cards": [{"card": "1"}]}', b'{"cards": {"card": "00100001"}}',
    b'{"revision": "1"}', b'{"revision": -5, "name": "x"}', b'{"days": [[1], [], [], [], [], [], []]}',
    b'{"days": [["25:00-26:00"]]}', b'{"grants": [null]}', b'{"groups": ["a\\u000bb"]}',
    b'{"site": "site9", "date": "2026-02-30"}', b'{"yearly": "yes", "revision": 1}',
    b"[" * 100000 + b"]" * 100000, b'{"a":' * 50000 + b"1" + b"}" * 50000,
    b"card,serial\n1,2\n", b"card,serial,password,user_style,open_style,sunday,monday,tuesday,wednesday,"
    b"thursday,friday,saturday,extra_cards,controllers\n\"unclosed,1\n",
    b"\xef\xbb\xbf", b"\r\n" * 1000,
]

BAD_SEGMENTS = [
    "%", "%zz", "%00", "%2F", "%2f..%2f", "%ff%fe", "..", "%2e%2e", "a%00b", "%c0%af", "%e2%82", "\\",
    "x" * 300, "%25%32%46", "%20", "+", "~", "%7B%7D", "{name}", "(.*)", "*",
]

BAD_PARAMETERS = [
    "offset=-1", "offset=abc", "limit=0", "limit=501", "limit=99999999999999999999999", "limit=",
    "after=-5", "after=1e9", "since=2020", "until=abcdefghijklmn", "card=xyz", "card=%00",
    "controller=%ff", "controller=a%20b", "controller=" + "c" * 200, "search=%00", "search=%ff%fe",
    "search=" + "s" * 500, "kind=zzz", "replace=maybe", "offset=1&offset=2", "%=%", "&&&", "a=%zz",
    "revision=-1", "revision=1e3", "revision=" + "9" * 30, "person=%00", "person=" + "p" * 100, "days=0",
    "days=3651", "format=pdf", "site=%ff",
]

METHODS = ["GET", "POST", "PUT", "DELETE", "PATCH", "OPTIONS", "HEAD", "TRACE", "FOO", "CONNECT"]


def raw_request(method, target, token, body=b"", headers=()):
    lines = [f"{method} {target} HTTP/1.1", "Host: 127.0.0.1", "Connection: close"]
    if token:
        lines.append("Authorization: Bearer " + token)
    lines += list(headers)
    if body or method in ("POST", "PUT", "PATCH"):
        lines.append(f"Content-Length: {len(body)}")
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body


def malformed_requests(token, body_limit, rng):
    """Raw requests, each malformed in one way."""
    writes = [route for route in ROUTES if route[0] in ("POST", "PUT")]
    for _ in range(3):  # bodies past the limit
        yield raw_request("POST", "/api/v1/cards/import", token, b"x" * (body_limit + 1))
    yield b"\x16\x03\x01\x00\xa5\x01\x00"  # TLS to plain HTTP: no answer
    for _ in range(MALFORMED_REQUESTS):
        kind = rng.randrange(7)
        method, path = rng.choice(ROUTES)
        if kind == 0:
            method, path = rng.choice(writes)
            yield raw_request(method, path, token, rng.choice(BAD_BODIES))
        elif kind == 1:
            parts = path.split("/")
            parts[rng.randrange(1, len(parts))] = rng.choice(BAD_SEGMENTS)
            yield raw_request(method, "/".join(parts), token)
        elif kind == 2:
            yield raw_request(method, path + "?" + "&".join(rng.sample(BAD_PARAMETERS, 2)), token)
        elif kind == 3:
            yield raw_request(rng.choice(METHODS), path, token)
        elif kind == 4:
            header = rng.choice([f"X-Long: {'h' * 9000}", f"Referer: {'r' * 5000}", "Range: bytes=9-1",
                                 "Range: bytes=abc", "Last-Event-ID: -1", "If-None-Match: " + "\"x\"," * 500,
                                 "Content-Type: \x01\x02", "Accept-Encoding: gzip, br"])
            yield raw_request(method, path, token, headers=[header] * rng.choice([1, 1, 50]))
        elif kind == 5:
            yield rng.choice([b"GET\r\n\r\n", b"GET / HTTP/9.9\r\n\r\n",
                              b"GET /" + b"p" * 9000 + b" HTTP/1.1\r\n\r\n", b"GET  /  HTTP/1.1\r\n\r\n",
                              b"GET /api/v1/me HTTP/1.1\r\nHost\r\n\r\n", b"\r\n\r\n\r\n",
                              b"POST /api/v1/sync HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n0\r\n\r\n",
                              b"GET /api/v1/" + "é".encode() + b" HTTP/1.1\r\n\r\n"])
        else:
            yield raw_request(method, path + "/" * rng.randrange(1, 4) + rng.choice(BAD_SEGMENTS), token)


def exchange(address, data):
    """The status of the answer, or None when the connection closed without one."""
    with socket.create_connection(address, timeout=15) as connection:
        try:
            connection.sendall(data)
        except (BrokenPipeError, ConnectionResetError):
            pass
        answer = b""
        try:
            while b"\r\n" not in answer and (chunk := connection.recv(4096)):
                answer += chunk
        except (ConnectionResetError, socket.timeout):
            pass
    if not answer.startswith(b"HTTP/1."):
        return None
    return int(answer.split(b" ", 2)[1])


def start_serve(service, *args):
    return Serve(service, *args, token=service.admin_token)


@pytest.fixture
def rest_service(service):
    serve = start_serve(service)
    yield serve
    serve.stop()


def test_malformed_requests_leave_it_answering_without_5xx(rest_service):
    url = urlparse(rest_service.url)
    address = (url.hostname, url.port)
    rng = random.Random(7)
    requests = list(malformed_requests(rest_service.token, 16 * 1024 * 1024, rng))
    began = time.monotonic()
    with ThreadPoolExecutor(max_workers=8) as pool:
        statuses = list(pool.map(lambda data: exchange(address, data), requests))
    elapsed = time.monotonic() - began
    failures = [(status, data[:120]) for status, data in zip(statuses, requests)
                if status is not None and status >= 500]
    assert not failures, failures[:10]
    # Only what is not HTTP at all goes unanswered.
    unanswered = [data[:60] for status, data in zip(statuses, requests) if status is None]
    assert len(unanswered) <= len(requests) // 20, unanswered[:10]
    assert elapsed < 60, elapsed
    assert rest_service.json("GET", "/health") == {"status": "ok"}
    assert rest_service.json("GET", "/api/v1/controllers") == {"controllers": []}
    # Bad tokens, last: they block the address for a while. Control bytes
    # are no header at all (400) and never reach the token check.
    statuses = [exchange(address, raw_request("GET", "/api/v1/me", token))
                for token in ["x" * 5000, "dl_" + "A" * 43, "\x7f\x01"] * 6]
    assert set(statuses) <= {400, 401, 429} and 429 in statuses, statuses
    assert exchange(address, raw_request("GET", "/health", "")) == 200


def read_stream(url, token, lines, stop):
    """Collects the lines of the event stream until stop is set."""
    parsed = urlparse(url)
    with socket.create_connection((parsed.hostname, parsed.port), timeout=5) as connection:
        connection.sendall(raw_request("GET", "/api/v1/events/stream?after=0", token))
        data = b""
        while not stop.is_set():
            try:
                chunk = connection.recv(4096)
            except socket.timeout:
                continue
            if not chunk:
                break
            data += chunk
            lines[:] = data.decode(errors="replace").splitlines()


def test_sites_through_the_api_by_role_and_audited(rest_service, service):
    serve = rest_service
    viewer = service.run("token", "add", "watcher", "--role", "viewer")["token"]
    berlin = {"name": "berlin", "zone": "Europe/Berlin", "description": "the office"}
    serve.json("POST", "/api/v1/sites", berlin, token=viewer, expect=403)
    assert serve.json("POST", "/api/v1/sites", berlin, expect=201) == berlin
    serve.json("POST", "/api/v1/sites", berlin, expect=400)  # taken
    serve.json("POST", "/api/v1/sites", {"name": "x", "zone": "Nowhere/Land"}, expect=400)
    serve.json("POST", "/api/v1/sites", {"name": "x", "zone": "UTC", "town": "y"}, expect=400)
    assert [s["name"] for s in serve.json("GET", "/api/v1/sites", token=viewer)["sites"]] == ["berlin", "main"]

    door = {"name": "door1", "address": "127.0.0.9", "mac": "00a0c9000009"}
    serve.json("POST", "/api/v1/controllers", door, expect=400)  # two sites: which?
    assert serve.json("POST", "/api/v1/controllers", {**door, "site": "berlin"}, expect=201)["site"] == "berlin"
    assert serve.json("GET", "/api/v1/controllers")["controllers"][0]["site"] == "berlin"

    changed = serve.json("PUT", "/api/v1/sites/berlin", {"zone": "Europe/Paris"})
    assert changed == {**berlin, "zone": "Europe/Paris"}
    serve.json("PUT", "/api/v1/sites/berlin", {"zone": "../etc"}, expect=400)
    serve.json("PUT", "/api/v1/sites/nowhere", {"description": "x"}, expect=404)
    serve.json("DELETE", "/api/v1/sites/berlin", expect=409)  # door1 belongs to it
    serve.json("DELETE", "/api/v1/controllers/door1")
    assert serve.json("DELETE", "/api/v1/sites/berlin") == {"removed": "berlin"}

    paths = serve.json("GET", "/api/v1/openapi.json")["paths"]
    assert set(paths["/api/v1/sites"]) == {"get", "post"} and set(paths["/api/v1/sites/{name}"]) == {"put", "delete"}
    audited = [(e["action"], e["target"], e["result"][:3]) for e in serve.json("GET", "/api/v1/audit")["audit"]
               if "/sites" in e["action"]]
    assert audited[::-1] == [
        ("POST /api/v1/sites", "", "403"), ("POST /api/v1/sites", "berlin", "ok"),
        ("POST /api/v1/sites", "berlin", "400"), ("POST /api/v1/sites", "x", "400"),
        ("POST /api/v1/sites", "x", "400"), ("PUT /api/v1/sites/berlin", "berlin", "ok"),
        ("PUT /api/v1/sites/berlin", "berlin", "400"), ("PUT /api/v1/sites/nowhere", "nowhere", "404"),
        ("DELETE /api/v1/sites/berlin", "berlin", "409"), ("DELETE /api/v1/sites/berlin", "berlin", "ok")]


def test_a_controllers_lossy_through_the_api_by_role_and_audited(rest_service, service):
    serve = rest_service
    viewer = service.run("token", "add", "watcher", "--role", "viewer")["token"]
    door = {"name": "door1", "address": "127.0.0.9", "mac": "00a0c9000009", "lossy": True}
    assert serve.json("POST", "/api/v1/controllers", door, expect=201)["lossy"] is True
    serve.json("PUT", "/api/v1/controllers/door1", {"lossy": False}, token=viewer, expect=403)
    serve.json("PUT", "/api/v1/controllers/door1", {"lossy": "no"}, expect=400)
    serve.json("PUT", "/api/v1/controllers/door1", {"lossy": False, "long": True}, expect=400)
    serve.json("PUT", "/api/v1/controllers/door1", {}, expect=400)
    serve.json("PUT", "/api/v1/controllers/door2", {"lossy": False}, expect=404)
    assert serve.json("PUT", "/api/v1/controllers/door1", {"lossy": False})["lossy"] is False
    assert serve.json("PUT", "/api/v1/controllers/door1", {"lossy": True})["lossy"] is True
    assert [c["lossy"] for c in serve.json("GET", "/api/v1/controllers", token=viewer)["controllers"]] == [True]
    audited = [(e["result"][:3], e["detail"]) for e in serve.json("GET", "/api/v1/audit")["audit"]
               if e["action"] == "PUT /api/v1/controllers/door1"]
    assert audited[::-1] == [("403", ""), ("400", ""), ("400", ""), ("400", ""), ("ok", "not lossy"),
                             ("ok", "lossy")], audited


def test_a_controller_is_read_opened_and_synced(service, simulator):
    sim = simulator(1)
    address, mac = sim.controllers[0]
    serve = start_serve(service)
    try:
        me = serve.json("GET", "/api/v1/me")
        assert me["role"] == "admin"
        added = serve.json("POST", "/api/v1/controllers", {"name": "door1", "address": address, "mac": mac},
                           expect=201)
        assert added["name"] == "door1"

        live = serve.json("GET", "/api/v1/controllers/door1")
        assert live["reachable"] is True, live
        assert len(live["clock"]) == 17 and isinstance(live["skew"], int) and live["door_state"] in range(4)

        viewer = service.run("token", "add", "watcher", "--role", "viewer")["token"]
        serve.json("POST", "/api/v1/controllers/door1/doors/1/open", token=viewer, expect=403)
        assert serve.json("POST", "/api/v1/controllers/door1/doors/1/open") == \
            {"controller": "door1", "door": 1, "opened": True}
        audit = serve.json("GET", "/api/v1/audit")["audit"]
        opened = [e for e in audit if e["action"] == "POST /api/v1/controllers/door1/doors/1/open"]
        assert [(e["who"], e["result"][:3]) for e in opened] == [(me["name"], "ok"), ("watcher", "403")]
        assert opened[0]["address"] == "127.0.0.1" and opened[0]["target"] == "door1"

        serve.json("PUT", "/api/v1/cards/00110001", {"serial": "123456", "password": "654321",
                                                     "controllers": ["door1"]})
        run = serve.json("POST", "/api/v1/sync", {"controllers": ["door1"]}, expect=202)["run"]
        deadline = time.monotonic() + 60
        results = []
        while not results and time.monotonic() < deadline:
            results = serve.json("GET", f"/api/v1/sync/runs/{run}")["results"]
            time.sleep(0.2)
        assert [(r["name"], r["status"], r["cards"]) for r in results] == [("door1", "repaired", 1)], results
        assert run in [r["id"] for r in serve.json("GET", "/api/v1/sync/runs")["runs"]]

        # The run's sync event is in the stream, and SIGTERM ends serve with
        # the stream open.
        lines, stop = [], threading.Event()
        reader = threading.Thread(target=read_stream, args=(serve.url, serve.token, lines, stop))
        reader.start()
        deadline = time.monotonic() + 10
        while not any('"kind":"sync"' in line for line in lines) and time.monotonic() < deadline:
            time.sleep(0.1)
        assert any(line.startswith("data: ") and '"kind":"sync"' in line for line in lines), lines
        assert serve.stop() < 5
        stop.set()
        reader.join()
    finally:
        serve.kill()
