"""What holds PINs is the user's alone, whatever the umask: the data
directory and everything doorlinkd makes in it (the SQLite database among
them), and a card export. A photo written for the user gets the mode the
user's umask gives."""
import hashlib
import json
import os
import sqlite3
import stat
import subprocess

from conftest import DOORLINKD, card_row, write_cards


def doorlinkd(data_dir, *args, umask):
    done = subprocess.run([DOORLINKD, "--json", "--data-dir", str(data_dir), *map(str, args)],
                          capture_output=True, text=True, timeout=120,
                          preexec_fn=lambda: os.umask(umask))
    assert done.returncode == 0, (args, done.stdout, done.stderr)
    return json.loads(done.stdout)


def mode(path):
    return stat.S_IMODE(os.lstat(path).st_mode)


def test_the_data_directory_its_database_and_an_export_are_the_users_alone(tmp_path):
    data = tmp_path / "data"
    doorlinkd(data, "init", umask=0o022)
    write_cards(tmp_path / "cards.csv", [card_row(1, password="246810")])
    doorlinkd(data, "card", "import", tmp_path / "cards.csv", umask=0o022)
    exported = tmp_path / "exported.csv"
    doorlinkd(data, "card", "export", exported, umask=0o022)

    assert mode(data) == 0o700
    assert mode(data / "doorlink.db") == 0o600
    for path in data.rglob("*"):
        assert mode(path) & 0o077 == 0, (path, oct(mode(path)))
    assert "246810" in exported.read_text()
    assert mode(exported) == 0o600


def test_a_photo_gets_the_mode_of_the_users_umask(tmp_path):
    data = tmp_path / "data"
    doorlinkd(data, "init", umask=0o022)
    photo = b"\xff\xd8 a photo \xff\xd9"
    sha256 = hashlib.sha256(photo).hexdigest()
    with sqlite3.connect(data / "doorlink.db") as db:
        db.execute("INSERT INTO photos (sha256, bytes, size, whole) VALUES (?, ?, ?, 1)",
                   (sha256, photo, len(photo)))
    written = tmp_path / "photo.jpg"
    doorlinkd(data, "photo", "get", sha256, written, umask=0o002)
    assert written.read_bytes() == photo
    assert mode(written) == 0o664
