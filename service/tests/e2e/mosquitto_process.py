"""A mosquitto broker of a test's own on a free loopback port, for the
end-to-end tests and the service's benchmark."""
import socket
import subprocess
import time
from pathlib import Path

MOSQUITTO = "/usr/sbin/mosquitto"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    """Anonymous, no persistence; start() again after stop() reuses the port.
    extra: further lines of its configuration (for the listener's TLS)."""

    def __init__(self, directory, port=None, extra=""):
        self.port = port or free_port()
        self.url = f"mqtt://127.0.0.1:{self.port}"
        self.config = Path(directory) / f"mosquitto-{self.port}.conf"
        self.config.write_text(f"listener {self.port} 127.0.0.1\nallow_anonymous true\npersistence false\n{extra}")
        self.process = None
        self.start()

    def start(self):
        self.process = subprocess.Popen([MOSQUITTO, "-c", str(self.config)], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return
            except OSError:
                if self.process.poll() is not None:
                    raise RuntimeError("mosquitto ended at start")
                time.sleep(0.05)
        raise RuntimeError("mosquitto did not listen")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process = None
