"""`doorlinkd serve` in a process of its own, for the end-to-end tests.

serve prints one JSON line once it answers HTTP:
  {"http": "http://127.0.0.1:PORT", "instance": NAME}
and stops on SIGTERM."""
import json
import os
import signal
import subprocess
import time
import urllib.error
import urllib.request


class Serve:
    def __init__(self, service, *args, token=None, env=None):
        """service: conftest's Service (database and data directory);
        args: further options of serve (--http defaults to a free port)."""
        self.service = service
        self.token = token
        options = list(map(str, args))
        if not any(a.startswith("--http") for a in options):
            options += ["--http", "127.0.0.1:0"]
        self.process = subprocess.Popen(
            service.command("serve", *options), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
            env={**os.environ, **(env or {})})
        line = self.process.stdout.readline()
        if not line:
            raise AssertionError("serve ended before it answered: " + self.process.stderr.read())
        self.ready = json.loads(line)
        self.url = self.ready["http"]

    def request(self, method, path, body=None, token=None, headers=None):
        """(status, headers, body bytes); token None: this Serve's token,
        "" : none at all."""
        token = self.token if token is None else token
        data = body
        all_headers = dict(headers or {})
        if isinstance(body, (dict, list)):
            data = json.dumps(body).encode()
            all_headers.setdefault("Content-Type", "application/json")
        elif isinstance(body, str):
            data = body.encode()
        if token:
            all_headers["Authorization"] = "Bearer " + token
        request = urllib.request.Request(self.url + path, data=data, method=method, headers=all_headers)
        try:
            with urllib.request.urlopen(request, timeout=30) as answer:
                return answer.status, dict(answer.headers), answer.read()
        except urllib.error.HTTPError as error:
            return error.code, dict(error.headers), error.read()

    def json(self, method, path, body=None, token=None, expect=200):
        status, _, data = self.request(method, path, body, token)
        assert status == expect, (method, path, status, data)
        return json.loads(data) if data else None

    def stop(self, timeout=10):
        """SIGTERM; returns the seconds it took to end."""
        if self.process.poll() is not None:
            return 0.0
        began = time.monotonic()
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("serve did not stop within %s s of SIGTERM" % timeout)
        return time.monotonic() - began

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
