"""doorlinkd's commands that only touch the database: refused input changes
nothing and names what was refused; database errors exit 3 with a clear
message; on both databases."""
import os
import shutil
import subprocess

import pytest

from conftest import DOORLINKD, card_row, write_cards


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
    exported = tmp_path / "after.csv"
    service.run("card", "export", exported)
    assert exported.read_text() == (tmp_path / "good.csv").read_text()


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

    code, refused = service.run("controller", "remove", door1, expect=None)
    assert code == 2 and refused["cards"] == ["00100001"]
    service.run("controller", "remove", door2)
    assert [c["name"] for c in service.run("controller", "list")["controllers"]] == [door1]


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
