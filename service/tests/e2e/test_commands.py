"""doorlinkd's commands that only touch the database: refused input changes
nothing and names what was refused; database errors exit 3 with a clear
message; on both databases."""
import json
import os
import shutil
import sqlite3
import subprocess

import pytest

from conftest import DOORLINKD, Service, card_row, write_cards


def test_a_file_with_bad_rows_changes_nothing_and_names_every_row(service, simulator, tmp_path):
    service.add_controllers(simulator(1))
    write_cards(tmp_path / "good.csv", [card_row(1), card_row(2)])
    service.run("card", "import", tmp_path / "good.csv")
    bad = [card_row(3), card_row(4, password="12345"), card_row(1, controllers="nowhere"), card_row(3)]
    bad[0][5] = "0800-2460-01;"
    write_cards(tmp_path / "bad.csv", bad)

    code, result = service.run("card", "import", tmp_path / "bad.csv", "--replace", expect=None)
    assert code == 2
    assert "bad.csv" in result["error"]
    named = {(r["line"], r["column"]) for r in result["rows"]}
    assert named == {(2, "sunday"), (3, "password"), (4, "controllers"), (5, "card")}
    # A refusal that echoes bytes which are no UTF-8 is still one JSON line.
    (tmp_path / "latin1.csv").write_bytes(b"card,s\xe9rial\n")
    code, result = service.run("card", "import", tmp_path / "latin1.csv", expect=None)
    assert code == 2 and "s\ufffdrial" in result["rows"][0]["reason"]
    exported = tmp_path / "after.csv"
    service.run("card", "export", exported)
    assert exported.read_text() == (tmp_path / "good.csv").read_text()


def test_an_import_lists_the_first_hundred_bad_rows_and_reads_no_row_past_its_limit(service, tmp_path):
    service.run("controller", "add", "door1", "127.0.0.9", "00a0c9000009")  # 5000 rows at most
    write_cards(tmp_path / "bad.csv", [["x"]] * 150)
    code, result = service.run("card", "import", tmp_path / "bad.csv", expect=None)
    assert code == 2 and result["error"].endswith("bad.csv: 150 rows are refused; the first 100 are listed")
    assert [r["line"] for r in result["rows"]] == list(range(2, 102)) and result["more_rows"] == 50
    # Refused at the 5001st row, before the fleet's rules would name it.
    write_cards(tmp_path / "long.csv", [card_row(n) for n in range(5001)])
    code, result = service.run("card", "import", tmp_path / "long.csv", expect=None)
    assert code == 2 and "rows" not in result, result
    assert "more than 5000 rows: one import takes at most 5000 (5000 cards for each of 1 controller)" in \
        result["error"]
    assert service.run("card", "export", tmp_path / "after.csv")["cards"] == 0


def test_controllers_and_cards_from_the_command_line(service, simulator):
    sim = simulator(2)
    door1, door2 = service.add_controllers(sim)
    code, refused = service.run("controller", "add", "bad name", "127.0.0.9", "00a0c9000009", expect=None)
    assert code == 2 and "bad name" in refused["error"]
    code, refused = service.run("card", "set", "00100001", "--password", "123456", expect=None)
    assert code == 2 and "serial" in refused["error"]

    card = service.run("card", "set", "00100001", "--serial", "111111", "--password", "222222",
                       "--controllers", door1, "--monday", "0800/1200/7")
    assert card["monday"] == "0800-1200-07;" and card["user_style"] == 1 and card["open_style"] == 2
    assert service.run("card", "set", "00100001", "--open-style", "0")["serial"] == "111111"
    # The PIN from standard input, out of the process list.
    piped = subprocess.run(service.command("card", "set", "00100001", "--password-stdin"), input="333444\n",
                           capture_output=True, text=True, check=True)
    assert json.loads(piped.stdout)["password"] == "333444"
    code, refused = service.run("card", "set", "00100001", "--password-stdin", "--password", "1", expect=None)
    assert code == 2

    code, refused = service.run("controller", "remove", door1, expect=None)
    assert code == 2 and refused["cards"] == ["00100001"]
    service.run("controller", "remove", door2)
    assert [c["name"] for c in service.run("controller", "list")["controllers"]] == [door1]


def test_a_removed_controllers_number_is_not_given_again_unless_asked(service):
    assert service.run("controller", "add", "hall", "127.0.0.9", "00a0c9000009", "--no-photos")["number"] == 1
    # What a retrieval of hall left in the data directory.
    journal = service.data_dir / "cardinfo" / "20260102030405001.txt"
    journal.parent.mkdir(mode=0o700, parents=True, exist_ok=True)
    journal.write_text("00101000,20260102030000,001,1\n")
    service.run("controller", "remove", "hall")
    # An archive (of no controller now) imports hall's journal under hall's name.
    assert service.run("archive")["journal"] == {"records": 1, "photos": 0}
    assert not journal.exists()
    assert [r["controller"] for r in service.run("records")["records"]] == ["hall"]

    assert service.run("controller", "add", "garage", "127.0.0.8", "00a0c9000008")["number"] == 2
    code, refused = service.run("controller", "add", "porch", "127.0.0.7", "00a0c9000007", "--number", "1",
                                expect=None)
    assert code == 2 and "was hall's" in refused["error"] and "journal files" in refused["error"] and \
        "--reuse-number" in refused["error"], refused
    code, refused = service.run("controller", "add", "porch", "127.0.0.7", "00a0c9000007", "--reuse-number",
                                expect=None)
    assert code == 2, refused
    assert [c["name"] for c in service.run("controller", "list")["controllers"]] == ["garage"]
    porch = service.run("controller", "add", "porch", "127.0.0.7", "00a0c9000007", "--number", "1",
                        "--reuse-number")
    assert porch["number"] == 1
    assert service.run("controller", "add", "shed", "127.0.0.6", "00a0c9000006")["number"] == 3


def read_only(path):
    """A command prefix under which path is on a read-only mount (root
    writes through file modes, so a mount of its own is needed for root)."""
    if os.geteuid() != 0:
        for p in [path, *path.iterdir()]:
            p.chmod(0o555 if p.is_dir() else 0o444)
        return []
    if not shutil.which("unshare"):
        pytest.skip("unshare is missing: no read-only mount for root")
    probe = subprocess.run(["unshare", "-m", "sh", "-c", f'mount --bind "{path}" "{path}"'],
                           capture_output=True, text=True)
    if probe.returncode != 0:
        pytest.skip(f"no mount namespace of our own here ({probe.stderr.strip()}): no read-only mount for root")
    return ["unshare", "-m", "sh", "-c", f'mount --bind "{path}" "{path}" && '
            f'mount -o remount,ro,bind "{path}" && exec "$0" "$@"']


def test_a_read_only_sqlite_file_is_a_clear_error_and_nothing_changes(tmp_path):
    data = tmp_path / "data"
    db = f"sqlite:{data}/doorlink.db"
    base = [DOORLINKD, "--json", "--db", db, "--data-dir", str(data)]
    subprocess.run(base + ["init"], check=True, capture_output=True)
    subprocess.run(base + ["card", "set", "00100001", "--serial", "111111", "--password", "222222"],
                   check=True, capture_output=True)
    prefix = read_only(data)
    done = subprocess.run(prefix + base + ["card", "set", "00100002", "--serial", "111111", "--password",
                                           "222222"], capture_output=True, text=True)
    assert done.returncode == 3, (done.stdout, done.stderr)
    assert "read" in done.stdout.lower() and "doorlink.db" in done.stdout
    listed = subprocess.run(base + ["card", "export", str(tmp_path / "cards.csv")], capture_output=True, text=True)
    assert listed.returncode == 0, listed.stdout
    assert "00100002" not in (tmp_path / "cards.csv").read_text()


def test_the_database_from_the_environment_and_a_refused_since(tmp_path):
    env = dict(os.environ, DOORLINKD_DB=f"sqlite:{tmp_path}/env.db")
    base = [DOORLINKD, "--json", "--data-dir", str(tmp_path / "data")]
    done = subprocess.run(base + ["init"], env=env, capture_output=True, text=True)
    assert done.returncode == 0 and (tmp_path / "env.db").exists(), done.stdout
    done = subprocess.run(base + ["records", "--since", "2026"], env=env, capture_output=True, text=True)
    assert done.returncode == 2 and "--since" in done.stdout, done.stdout


def test_tokens_are_shown_once_listed_without_secrets_and_audited(service, tmp_path):
    assert service.run("init") == {"schema_version": 10}  # an admin token exists: none made
    ops = service.run("token", "add", "ops@site", "--role", "operator", "--expires", "30")
    assert ops["name"] == "ops@site" and ops["role"] == "operator" and ops["token"].startswith("dl_")
    for args, reason in [(["bad name", "--role", "viewer"], "bad name"), (["x", "--role", "boss"], "boss"),
                         (["ops@site", "--role", "viewer"], "exists already")]:
        code, refused = service.run("token", "add", *args, expect=None)
        assert code == 2 and reason in refused["error"], refused

    listed = service.run("token", "list")["tokens"]
    assert [(t["name"], t["role"], t["expires"] is None) for t in listed] == [
        ("admin", "admin", True), ("ops@site", "operator", False)]
    assert ops["token"] not in str(listed) and service.admin_token not in str(listed)
    assert set(listed[1]) == {"name", "role", "created", "expires"}

    assert service.run("token", "revoke", "ops@site") == {"revoked": "ops@site"}
    code, refused = service.run("token", "revoke", "ops@site", expect=None)
    assert code == 2 and "ops@site" in refused["error"]
    if service.db.startswith("sqlite:"):
        with sqlite3.connect(service.db[len("sqlite:"):]) as db:
            assert db.execute("SELECT who, action, target, result FROM audit ORDER BY id").fetchall() == [
                ("cli", "token add", "admin", "ok"), ("cli", "token add", "ops@site", "ok"),
                ("cli", "token revoke", "ops@site", "ok")]


def test_init_in_text_says_the_token_is_shown_once(tmp_path):
    base = [DOORLINKD, "--db", f"sqlite:{tmp_path}/fleet.db", "--data-dir", str(tmp_path / "data")]
    first = subprocess.run(base + ["init"], capture_output=True, text=True, check=True).stdout
    assert "shown only once" in first and "dl_" in first
    again = subprocess.run(base + ["init"], capture_output=True, text=True, check=True).stdout
    assert "dl_" not in again


def test_backup_copies_sqlite_and_refers_postgresql_to_pg_dump(service, tmp_path):
    service.run("card", "set", "00100001", "--serial", "111111", "--password", "222222")
    copy = tmp_path / "copy.db"
    if service.db.startswith("postgresql"):
        code, refused = service.run("backup", copy, expect=None)
        assert code == 2 and "pg_dump" in refused["error"]
        return
    assert service.run("backup", copy) == {"backup": str(copy)}
    code, refused = service.run("backup", copy, expect=None)
    assert code == 2 and "exists" in refused["error"]
    restored = Service(f"sqlite:{copy}", tmp_path / "data")
    restored.run("card", "export", tmp_path / "cards.csv")
    assert "00100001" in (tmp_path / "cards.csv").read_text()
    assert [t["name"] for t in restored.run("token", "list")["tokens"]] == ["admin"]
