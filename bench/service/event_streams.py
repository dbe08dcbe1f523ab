"""serve with many event streams open (GET /api/v1/events/stream, spread
over several loopback addresses): how many it holds, and how long an error
pushed at doorsim takes to reach every one of them."""
import asyncio
import time

from serve_support import memory_mib, percentile, source_addresses


class EventStream:
    def __init__(self, wanted):
        self.status = None  # of its answer, or what ended it before one
        self.wanted = wanted  # the markers looked for
        self.seen = {}  # marker -> when it arrived
        self.tail = b""  # a marker may be split between two reads


async def open_stream(port, source, token, stream, opening):
    """Opens one stream and reads it until cancelled, noting when each
    marker arrives."""
    request = (f"GET /api/v1/events/stream HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n"
               f"Authorization: Bearer {token}\r\n\r\n").encode()
    writer = None
    try:
        async with opening:
            reader, writer = await asyncio.open_connection("127.0.0.1", port, local_addr=(source, 0))
            writer.write(request)
            head = await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), timeout=30)
            stream.status = int(head.split(None, 2)[1])
        if stream.status != 200:
            return
        while True:
            data = await reader.read(65536)
            if not data:
                stream.status = "ended"
                return
            now = time.monotonic()
            text = stream.tail + data
            for marker in stream.wanted:
                if marker not in stream.seen and marker in text:
                    stream.seen[marker] = now
            stream.tail = text[-200:]
    except (OSError, asyncio.IncompleteReadError, TimeoutError, ValueError, IndexError) as e:
        if stream.status is None:
            stream.status = type(e).__name__
    finally:
        if writer:
            writer.close()


async def streams_run(port, token, count, sources, events, push, on_held):
    addresses = source_addresses(sources)
    markers = [f"stream-bench-{n}-{time.time_ns()}".encode() for n in range(events)]
    streams = [EventStream(markers) for _ in range(count)]
    opening = asyncio.Semaphore(100)  # connects in flight, so the listen backlog is not what refuses them
    began = time.monotonic()
    readers = [asyncio.create_task(open_stream(port, addresses[i % sources], token, s, opening))
               for i, s in enumerate(streams)]
    while any(s.status is None for s in streams) and time.monotonic() < began + 60:
        await asyncio.sleep(0.05)
    opened_in = time.monotonic() - began
    held = [s for s in streams if s.status == 200]
    refused = {}
    for s in streams:
        if s.status != 200:
            refused[str(s.status)] = refused.get(str(s.status), 0) + 1
    await asyncio.sleep(1)  # the last ones' requests reach their wait
    memory = on_held()

    loop = asyncio.get_running_loop()
    sent = {}
    for marker in markers:
        sent[marker] = time.monotonic()
        await loop.run_in_executor(None, push, marker.decode())
        wait_until = time.monotonic() + 10
        while any(marker not in s.seen for s in held) and time.monotonic() < wait_until:
            await asyncio.sleep(0.01)
        await asyncio.sleep(0.5)
    for task in readers:
        task.cancel()
    await asyncio.gather(*readers, return_exceptions=True)
    delays = [s.seen[m] - sent[m] for s in held for m in markers if m in s.seen]
    missed = sum(1 for s in held for m in markers if m not in s.seen)
    lasts = [max(s.seen[m] for s in held if m in s.seen) - sent[m] for m in markers
             if any(m in s.seen for s in held)]
    return len(held), refused, opened_in, memory, delays, missed, lasts


def run(serve, sim, args, idle_rss):
    """The streams section against a running serve whose controller 1 is
    monitored by it (a push reaches it); idle_rss: its VmRSS before any
    load, MiB."""
    port = int(serve.url.rsplit(":", 1)[1])
    pid = serve.process.pid

    def push(text):
        deadline = time.monotonic() + 60
        while not sim.control(f"error 1 {text}"):
            if time.monotonic() > deadline:
                raise RuntimeError("controller 1 is not monitored: doorsim refuses its push")
            time.sleep(0.2)

    push("stream-bench warm-up")  # once monitoring is armed, pushes go through at once
    held, refused, opened_in, (rss, hwm), delays, missed, lasts = asyncio.run(
        streams_run(port, serve.token, args.streams, args.sources, args.stream_events, push,
                    lambda: memory_mib(pid)))
    refusals = ", ".join(f"{n} {'answered ' if why.isdigit() else ''}{why}"
                         for why, n in sorted(refused.items())) or "none"
    line = (f"event streams: {held} of {args.streams} held (from {args.sources} addresses, answered in "
            f"{opened_in:.1f} s; not held: {refusals})")
    if delays:
        line += (f"; {args.stream_events} errors pushed at doorsim reached them in p50 "
                 f"{percentile(delays, 50) * 1000:.0f} ms, p99 {percentile(delays, 99) * 1000:.0f} ms, the "
                 f"last stream {max(lasts) * 1000:.0f} ms; {missed} deliveries missed")
    ok = held == args.streams and missed == 0 and lasts and max(lasts) <= 1.0
    print(f"{line} (goal: all {args.streams} held, the last within 1 s: {'ok' if ok else 'over'})", flush=True)
    print(f"  serve's memory: idle VmRSS {idle_rss:.1f} MiB; with {held} streams VmRSS {rss:.1f} MiB, "
          f"VmHWM {hwm:.1f} MiB", flush=True)
