"""What the sections of serve's benchmark share: a doorlinkd of a given
binary on a fresh database, serve's memory, percentiles, the loopback source
addresses clients bind to, and the open-file limit."""
import resource
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "service" / "tests" / "e2e"))
import conftest  # noqa: E402  (the end-to-end tests' Service runs doorlinkd)
from serve_process import Serve  # noqa: E402


class Doorlinkd(conftest.Service):
    """conftest's Service with its own binary, so that two builds can be
    measured in one run."""

    def __init__(self, binary, db, data_dir):
        super().__init__(db, data_dir)
        self.binary = str(binary)

    def command(self, *args):
        return [self.binary, "--json", "--db", self.db, "--data-dir", str(self.data_dir), *map(str, args)]


def fresh_serve(binary, work, sim, *serve_args):
    """A new database in work with sim's controllers, and serve on it (no
    sync or archive of its own); its admin token is serve.token."""
    work.mkdir(parents=True, exist_ok=True)
    service = Doorlinkd(binary, f"sqlite:{work}/doorlink.db", work / "data")
    token = service.run("init")["admin_token"]
    for i, (address, mac) in enumerate(sim.controllers):
        service.run("controller", "add", f"c{i + 1}", address, mac, "--number", i + 1)
    return Serve(service, "--sync-every", 0, "--archive-every", 0, *serve_args, token=token)


def memory_mib(pid):
    """(VmRSS, VmHWM) of a process, in MiB."""
    fields = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        key, _, value = line.partition(":")
        fields[key] = value.split()
    return int(fields["VmRSS"][0]) / 1024, int(fields["VmHWM"][0]) / 1024


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def latencies_line(name, values, goal=None):
    values_ms = [v * 1000 for v in values]
    verdict = ""
    if goal is not None:
        verdict = f" (goal p99 <= {goal} ms: {'ok' if percentile(values_ms, 99) <= goal else 'over'})"
    print(f"{name}: n={len(values_ms)} p50 {percentile(values_ms, 50):.1f} ms, "
          f"p99 {percentile(values_ms, 99):.1f} ms, max {max(values_ms):.1f} ms{verdict}", flush=True)


def source_addresses(count):
    """Loopback addresses 127.0.0.2 on: clients spread over them so that a
    cap on connections per address is not what holds them back."""
    return [f"127.0.0.{2 + i}" for i in range(count)]


def raise_open_files():
    """The soft limit of open files up to the hard one: a thousand sockets
    need more than the usual 1,024. serve started from here inherits it."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = 65536 if hard == resource.RLIM_INFINITY else hard
    if soft != resource.RLIM_INFINITY and soft < wanted:
        resource.setrlimit(resource.RLIMIT_NOFILE, (wanted, hard))
    return resource.getrlimit(resource.RLIMIT_NOFILE)[0]
