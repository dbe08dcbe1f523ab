"""A doorsim process with its controllers, for the end-to-end tests and the
service's benchmark."""
import random
import signal
import subprocess


class Simulator:
    """doorsim with count controllers: controllers is [(address, mac)]."""

    def __init__(self, doorsim, count, *args):
        # Loopback addresses of the service's own (127.20.x.x to 127.99.x.x;
        # the library's tests take 127.100 and above); another when taken.
        for _ in range(20):
            base = f"127.{random.randint(20, 99)}.{random.randint(0, 249)}.2"
            self.process = subprocess.Popen(
                [doorsim, "--address", base, "--controllers", str(count), *map(str, args)],
                stdin=subprocess.PIPE if "--control" in args else subprocess.DEVNULL,
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            self.controllers = []
            for line in self.process.stdout:
                if line.startswith("controller "):
                    words = line.split()
                    self.controllers.append((words[2].split(":")[0], words[4]))
                if line.startswith("ready"):
                    return
            self.process.wait()
        raise RuntimeError("doorsim did not start")

    def control(self, line):
        """One line of doorsim's control input (started with --control):
        "error ID TEXT", "photo ID SITE CARD", "monitor ID ADDRESS PORT" or
        "clock ID SECONDS" (the controller's clock that far ahead), ids
        counting from 1; True when doorsim answers ok (a push needs the
        controller's monitoring target set)."""
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        for answer in self.process.stdout:
            if answer.startswith("ok"):
                return True
            if answer.startswith("failed") or answer.startswith("?"):
                return False
        raise RuntimeError("doorsim ended")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
