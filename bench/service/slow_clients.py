"""serve under clients that trickle: many connections, each sending its
request a byte at a time, spread over several loopback addresses; meanwhile
GET /health and an authenticated GET /api/v1/controllers at a steady rate on
fresh connections from 127.0.0.1, whose latencies tell whether the trickle
starves the others (goal: p99 within 1 s)."""
import asyncio
import time
from dataclasses import dataclass, field

from serve_support import memory_mib, percentile, source_addresses

# A request that never ends: a header that goes on one byte at a time.
TRICKLED_REQUEST = b"GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Trickle: "


@dataclass
class TrickleCounts:
    opened: int = 0
    open_now: int = 0
    ended_by_server: int = 0
    connect_failures: int = 0
    open_samples: list = field(default_factory=list)


async def read_response(reader):
    """The status of one HTTP/1.1 response, its body read (Content-Length,
    or until the connection ends)."""
    head = await reader.readuntil(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    length = None
    for line in lines[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == "content-length":
            length = int(value)
    if length is not None:
        await reader.readexactly(length)
    else:
        await reader.read()
    return status


async def fetch(port, path, token, timeout):
    """Seconds until a 200 answer on a fresh connection; None when it did not
    come within timeout or was not 200."""
    began = time.monotonic()
    writer = None
    request = f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
    if token:
        request += f"Authorization: Bearer {token}\r\n"
    try:
        async with asyncio.timeout(timeout):
            reader, writer = await asyncio.open_connection("127.0.0.1", port)
            writer.write((request + "\r\n").encode())
            status = await read_response(reader)
        return time.monotonic() - began if status == 200 else None
    except (TimeoutError, OSError, asyncio.IncompleteReadError, ValueError, IndexError):
        return None
    finally:
        if writer:
            writer.close()


async def trickle(port, source, start_after, period, stop_at, counts):
    """One trickling client: a byte every period; when the server ends the
    connection, another at once, as an attacker would."""
    await asyncio.sleep(start_after)
    while time.monotonic() < stop_at:
        try:
            reader, writer = await asyncio.wait_for(
                asyncio.open_connection("127.0.0.1", port, local_addr=(source, 0)),
                timeout=max(0.1, stop_at - time.monotonic()))
        except (OSError, TimeoutError):
            counts.connect_failures += 1
            await asyncio.sleep(period)
            continue
        counts.opened += 1
        counts.open_now += 1
        sent = 0
        try:
            while time.monotonic() < stop_at:
                byte = TRICKLED_REQUEST[sent:sent + 1] or b"a"
                writer.write(byte)
                await writer.drain()
                sent += 1
                try:
                    # Anything from the server (an answer, or the end) ends it.
                    until_next = min(period, max(0.0, stop_at - time.monotonic()))
                    await asyncio.wait_for(reader.read(4096), timeout=until_next)
                    counts.ended_by_server += 1
                    break
                except TimeoutError:
                    pass
        except OSError:
            counts.ended_by_server += 1
        finally:
            counts.open_now -= 1
            writer.close()


async def probe_steadily(port, path, token, rate, begin_at, end_at, timeout):
    """path every 1/rate s from begin_at until end_at; the latency of each,
    None for those not answered within timeout."""
    await asyncio.sleep(max(0.0, begin_at - time.monotonic()))
    tasks = []
    due = time.monotonic()
    while due < end_at:
        tasks.append(asyncio.create_task(fetch(port, path, token, timeout)))
        due += 1.0 / rate
        await asyncio.sleep(max(0.0, due - time.monotonic()))
    return await asyncio.gather(*tasks)


async def sample_open(counts, every, begin_at, stop_at):
    await asyncio.sleep(max(0.0, begin_at - time.monotonic()))
    while time.monotonic() < stop_at:
        counts.open_samples.append(counts.open_now)
        await asyncio.sleep(every)


async def trickle_run(port, token, connections, sources, period, duration, rate, timeout, on_loaded):
    counts = TrickleCounts()
    began = time.monotonic()
    stop_at = began + duration
    addresses = source_addresses(sources)
    trickling = [
        asyncio.create_task(trickle(port, addresses[i % sources], i * period / connections, period, stop_at, counts))
        for i in range(connections)
    ]
    # Probes once every trickler has started, and none so late that the
    # trickle's end could answer it.
    probe_from, probe_until = began + period + 1, stop_at - timeout
    health = asyncio.create_task(probe_steadily(port, "/health", None, rate, probe_from, probe_until, timeout))
    listed = asyncio.create_task(
        probe_steadily(port, "/api/v1/controllers", token, rate, probe_from, probe_until, timeout))
    sampler = asyncio.create_task(sample_open(counts, 1.0, probe_from, probe_until))
    await asyncio.sleep(max(0.0, probe_until - time.monotonic()))
    loaded_memory = on_loaded()
    results = await asyncio.gather(health, listed, *trickling, sampler)
    return results[0], results[1], counts, loaded_memory


def probe_line(name, latencies, timeout):
    """Unanswered requests count as the slowest: p99 is past the timeout once
    more than 1% went unanswered."""
    answered = [t for t in latencies if t is not None]
    ranked = sorted(answered) + [float("inf")] * (len(latencies) - len(answered))

    def shown(t):
        return f"> {timeout:g} s" if t == float("inf") else f"{t * 1000:.0f} ms"

    p99 = percentile(ranked, 99) if ranked else float("inf")
    within = sum(1 for t in answered if t <= 1.0)
    figures = f"{len(latencies)} sent, {within} answered within 1 s, {len(answered)} within {timeout:g} s"
    if ranked:
        figures += f"; p50 {shown(percentile(ranked, 50))}, p99 {shown(p99)}, max {shown(ranked[-1])}"
    print(f"  {name}: {figures} (goal p99 <= 1 s: {'ok' if p99 <= 1.0 else 'over'})", flush=True)


def run(serve, args, idle_rss):
    """The trickle section against a running serve (idle_rss: its VmRSS
    before any load, MiB)."""
    port = int(serve.url.rsplit(":", 1)[1])
    pid = serve.process.pid
    loaded = asyncio.run(
        trickle_run(port, serve.token, args.trickle_connections, args.sources, args.trickle_period,
                    args.trickle_seconds, args.probe_rate, args.probe_timeout, lambda: memory_mib(pid)))
    health, listed, counts, (rss, hwm) = loaded
    held = counts.open_samples or [0]
    print(f"trickle: {args.trickle_connections} connections from {args.sources} addresses, a byte every "
          f"{args.trickle_period:g} s for {args.trickle_seconds:g} s; open at once {min(held)} to {max(held)}, "
          f"{counts.ended_by_server} ended by serve, {counts.connect_failures} connects failed; "
          f"probes at {args.probe_rate:g}/s each from 127.0.0.1:", flush=True)
    probe_line("GET /health", health, args.probe_timeout)
    probe_line("GET /api/v1/controllers", listed, args.probe_timeout)
    print(f"  serve's memory: idle VmRSS {idle_rss:.1f} MiB; under the trickle VmRSS {rss:.1f} MiB, "
          f"VmHWM {hwm:.1f} MiB", flush=True)
