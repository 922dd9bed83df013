#!/usr/bin/python3
"""Local HTTP and FTP servers for the launcher's tests.

Serves one folder over HTTP/1.1 and over anonymous read-only FTP on 127.0.0.1, each on a port
the OS picks. Once both listen it prints one line, "http=P ftp=P refused=P pid=PID", and returns,
leaving a forked process (PID) to serve with its output in --log: a caller reads the output to
its end and has the ports. "refused" is a port on which nothing listens. An exit status other
than 0 means the servers did not start (the reason is on stderr).

A test scripts faults for one path by writing, next to the served file, a sidecar
"<file>.fault.json" (read again on every request), for example:
  {"status": 503, "body": "busy"}           that status and body (a short page without "body")
  {"mode": "stall", "after": 100}           headers, 100 bytes, then nothing until the client goes
  {"mode": "drip", "rate": 1000}            the body at about 1000 bytes per second (a rate below 1
                                            trickles: 0.5 is one byte every two seconds)
  {"mode": "cut", "after": 100}             headers with the full length, the body up to byte 100 of
                                            the file, close (a range starting later is served whole)
  {"mode": "cutevery", "bytes": 100}        every answer (ranges too) closes after 100 body bytes
  {"mode": "close"}                         read the request, close without an answer
  {"mode": "redirect", "location": "/x", "code": 302}
  {"mode": "corrupt", "seed": 1}            the right length, some bytes changed
  {"mode": "long", "extra": 1000}           the announced length, then more bytes
  {"mode": "length", "shift": -100}         a Content-Length off by shift from the file's size
  {"mode": "bigheader", "bytes": 300000}    a header line of that many bytes before the body
  {"mode": "endless", "status": 200, "chunked": false, "limit": 67108864}
                                            that status and a body of "e" bytes without a length
                                            (or chunked) until the client goes; the server stops
                                            at "limit" bytes (64 MiB unless given, 512 MiB at most), and the
                                            answer then ends as a complete one; no file needed
Every fault takes "times": N (only the first N requests of the path) and "delay": S (seconds
before the status line). GET /__count__/<path> answers how many requests <path> has had,
/__bytes__/<path> how many bytes of the file's body it was sent, /__ranged__/<path> how many of
its requests asked for a range.

Ranges: "Range: bytes=N-" on a file is answered 206 with "Content-Range: bytes N-(size-1)/size"
and the file from byte N ("after" of stall and drip counts from there), or 416 when N >= size.
Faults may add "ranges": false (answer 200 with the whole file, as a server without range
support does) or "rangeshift": S (answer a range from N+S, saying so in Content-Range).

Chaos: a "chaos.json" file ({"seed": S, "rate": 0.3}) in a folder makes every request below it
that has no fault file of its own draw one of the faults above (with that rate), from a random
generator seeded by S, the path and the path's request number: the same seed replays the same
answers wherever the folder is.

A POST is recorded before any fault applies: the request as it arrived (request line, headers,
a blank line, the body) goes to "<file>.postN" beside the path, N counting from 1; it is then
answered 200 "ok" unless a fault ("status", "close", "delay") says otherwise.

The server stops when --parent-pid is gone, on SIGTERM/SIGINT, or after three hours.
"""

import argparse
import json
import logging
import os
import random
import re
import select
import signal
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote_to_bytes

# GET <prefix>/<path> reads one of the path's counters.
COUNTERS = {"/__count__/": "requests", "/__bytes__/": "bytes", "/__ranged__/": "ranged"}
RANGE = re.compile(r"\s*bytes\s*=\s*(\d+)\s*-\s*")
CHUNK = 64 * 1024
ENDLESS_LIMIT = 64 << 20  # unless the fault gives its own limit
ENDLESS_MOST = 512 << 20  # no test may make this server send without end
MAX_POST = 1 << 20
MAX_LIFETIME = 3 * 3600


def decode_path(target):
    """The request target's path, percent-decoded to a file system string, or None."""
    raw = target.split("?", 1)[0].split("#", 1)[0]
    # The request line arrives as latin-1 text; raw UTF-8 bytes and %XX escapes both end up
    # as the bytes of a file name.
    try:
        path = os.fsdecode(unquote_to_bytes(raw.encode("latin-1")))
    except (UnicodeError, ValueError):
        return None
    return path if path.startswith("/") and "\0" not in path else None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 600  # only for clients that vanish without closing; stalls watch the socket

    def log_message(self, format, *args):
        pass

    def reply(self, status, body, content_type="text/html; charset=utf-8", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def page(self, status, text, headers=()):
        body = "<html><body><h1>%d</h1><p>%s</p></body></html>\n" % (status, text)
        self.reply(status, body.encode("utf-8"), headers=headers)

    def send_body(self, data):
        """Sends bytes of the file's body, counting them for the path."""
        # Counted before they go: a client that has read them may ask for the count at once.
        self.server.count(("bytes", self.counted_path), len(data))
        try:
            self.wfile.write(data)
        except OSError:
            self.server.count(("bytes", self.counted_path), -len(data))
            raise

    def send_bytes(self, stream, count):
        """Sends up to count bytes of stream; the number sent."""
        sent = 0
        while sent < count:
            block = stream.read(min(CHUNK, count - sent))
            if not block:
                break
            self.send_body(block)
            sent += len(block)
        return sent

    def requested_start(self, fault):
        """N of a "Range: bytes=N-" request that the fault lets through, or None."""
        match = RANGE.fullmatch(self.headers.get("Range") or "")
        if not match or fault.get("ranges", True) is False:
            return None
        return int(match.group(1))

    def wait_for_client(self):
        """Holds the connection until the client closes it."""
        while True:
            readable, _, _ = select.select([self.connection], [], [], 0.25)
            if readable and not self.connection.recv(4096):
                return

    def drip(self, stream, count, rate):
        # Paced by the clock rather than by sleeps, so the average rate holds.
        start = time.monotonic()
        sent = 0
        while sent < count:
            time.sleep(0.1)
            due = min(count, int(rate * (time.monotonic() - start)))
            if due > sent:
                sent += self.send_bytes(stream, due - sent)

    def endless(self, fault):
        """An answer that goes on until the client goes, or until the fault's limit."""
        limit = min(int(fault.get("limit", ENDLESS_LIMIT)), ENDLESS_MOST)
        chunked = bool(fault.get("chunked", False))
        self.send_response(int(fault.get("status", 200)))
        self.send_header("Content-Type", "application/octet-stream")
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Connection", "close")
        self.end_headers()
        block = b"e" * CHUNK
        sent = 0
        while sent < limit:
            piece = block[:min(CHUNK, limit - sent)]
            if chunked:
                self.wfile.write(b"%x\r\n" % len(piece))
            self.send_body(piece)
            if chunked:
                self.wfile.write(b"\r\n")
            sent += len(piece)
        if chunked:
            self.wfile.write(b"0\r\n\r\n")

    def read_fault(self, local):
        # Tests put the file in place by renaming, so it is never read half written.
        try:
            with open(local + ".fault.json", "rb") as f:
                text = f.read()
        except (FileNotFoundError, NotADirectoryError, IsADirectoryError):
            return None
        try:
            fault = json.loads(text.decode("utf-8"))
        except ValueError:
            fault = None
        if isinstance(fault, dict):
            return fault
        return {"status": 500, "body": "fault file is not a JSON object: %r" % text[:200]}

    def do_GET(self):
        self.close_connection = True
        try:
            self.serve_path()
        except (ValueError, TypeError) as error:
            # A fault file with a value of the wrong kind: say so instead of a silent close.
            try:
                self.page(500, "bad fault file: %s" % error)
            except OSError:
                pass
        except OSError:
            pass  # the client went away

    def do_POST(self):
        self.close_connection = True
        try:
            self.record_post()
        except OSError:
            pass

    def record_post(self):
        path = decode_path(self.path)
        parts = [part for part in (path or "").split("/") if part not in ("", ".")]
        length = int(self.headers.get("Content-Length") or 0)
        if path is None or ".." in parts or not parts or not 0 <= length <= MAX_POST:
            self.page(400, "bad request")
            return
        body = self.rfile.read(length)
        number = self.server.count(path, 1)
        local = os.path.join(self.server.docroot, *parts)
        os.makedirs(os.path.dirname(local), exist_ok=True)
        head = self.requestline + "\r\n" + "".join("%s: %s\r\n" % item for item in self.headers.items())
        record = "%s.post%d" % (local, number)
        with open(record + ".tmp", "wb") as f:
            f.write(head.encode("latin-1") + b"\r\n" + body)
        os.replace(record + ".tmp", record)

        fault = self.read_fault(local) or {}
        if "times" in fault and number > int(fault["times"]):
            fault = {}
        time.sleep(float(fault.get("delay", 0)))
        if fault.get("mode") == "close":
            return
        if "status" in fault:
            self.reply(int(fault["status"]), str(fault.get("body", "")).encode("utf-8"))
            return
        self.reply(200, b"ok", "text/plain")

    def chaos(self, parts, number, local):
        """A fault drawn for this request when a chaos.json governs its folder, or None."""
        settings = None
        for depth in range(len(parts) - 1, 0, -1):
            try:
                with open(os.path.join(self.server.docroot, *parts[:depth], "chaos.json")) as f:
                    settings = json.load(f)
                break
            except (OSError, ValueError):
                continue
        if not isinstance(settings, dict):
            return None
        # Keyed by the path below the chaos file, so that a replay in another folder draws the same.
        rng = random.Random("%s:%s:%d" % (settings.get("seed", 0), "/".join(parts[depth:]), number))
        if rng.random() >= float(settings.get("rate", 0.3)):
            return None
        size = os.path.getsize(local) if os.path.isfile(local) else 0
        kind = rng.choice(["status", "stall", "drip", "cut", "corrupt", "redirect", "long", "length", "bigheader",
                           "close"])
        if kind == "status":
            return {"status": rng.choice([403, 404, 500, 503])}
        if kind in ("stall", "cut"):
            return {"mode": kind, "after": rng.randrange(size + 1)}
        if kind == "drip":
            return {"mode": "drip", "rate": rng.choice([1000, 4000]), "after": rng.randrange(size + 1)}
        if kind == "redirect":  # to itself, for ever
            return {"mode": "redirect", "location": "/" + "/".join(parts)}
        if kind == "length":
            return {"mode": "length", "shift": rng.choice([-1, 1]) * (1 + rng.randrange(max(1, size)))}
        if kind == "corrupt":
            return {"mode": "corrupt", "seed": rng.randrange(1 << 30)}
        return {"mode": kind}

    def serve_path(self):
        path = decode_path(self.path)
        parts = [part for part in (path or "").split("/") if part not in ("", ".")]
        if path is None or ".." in parts:
            self.page(400, "bad request target")
            return
        for prefix, counter in COUNTERS.items():
            if path.startswith(prefix):
                key = path[len(prefix) - 1:]
                value = self.server.count(key if counter == "requests" else (counter, key), 0)
                self.reply(200, str(value).encode(), "text/plain")
                return

        self.counted_path = path
        number = self.server.count(path, 1)
        if self.headers.get("Range") is not None:
            self.server.count(("ranged", path), 1)
        local = os.path.join(self.server.docroot, *parts)
        fault = self.read_fault(local) if parts else None
        if fault is not None and "times" in fault and number > int(fault["times"]):
            fault = None
        elif fault is None and parts:
            fault = self.chaos(parts, number, local)
        fault = fault or {}
        time.sleep(float(fault.get("delay", 0)))

        mode = fault.get("mode")
        if mode is None and "status" in fault:
            if "body" in fault:
                self.reply(int(fault["status"]), str(fault["body"]).encode("utf-8"))
            else:
                self.page(int(fault["status"]), "scripted answer")
            return
        if mode == "close":
            return
        if mode == "redirect":
            location = str(fault.get("location", "/"))
            self.page(int(fault.get("code", 302)), "moved", headers=[("Location", location)])
            return
        if mode == "endless":
            self.endless(fault)
            return
        if mode not in (None, "stall", "drip", "cut", "cutevery", "corrupt", "long", "length", "bigheader"):
            self.page(500, "unknown fault mode %r" % mode)
            return
        # The remaining modes shape the body of the real file; a missing file stays a 404.
        if not os.path.isfile(local):
            self.page(404, "not found")
            return
        with open(local, "rb") as stream:
            size = os.fstat(stream.fileno()).st_size
            start = self.requested_start(fault)
            if start is not None and start >= size:
                self.page(416, "range not satisfiable", headers=[("Content-Range", "bytes */%d" % size)])
                return
            begin = 0 if start is None else max(0, min(size, start + int(fault.get("rangeshift", 0))))
            length = size - begin
            announced = max(0, length + int(fault.get("shift", 0))) if mode == "length" else length
            self.send_response(200 if start is None else 206)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(announced))
            if start is not None:
                self.send_header("Content-Range", "bytes %d-%d/%d" % (begin, size - 1, size))
            if mode == "bigheader":
                self.send_header("X-Filler", "x" * int(fault.get("bytes", 300000)))
            self.send_header("Connection", "close")
            self.end_headers()
            if mode == "corrupt":
                # The whole file is changed the same way on every request, whatever part is sent.
                data = bytearray(stream.read())
                rng = random.Random(fault.get("seed", 0))
                for _ in range(min(len(data), 1 + len(data) // 4096)):
                    data[rng.randrange(len(data))] ^= 1 + rng.randrange(255)
                self.send_body(bytes(data[begin:]))
                return
            stream.seek(begin)
            if mode == "long":
                self.send_bytes(stream, length)
                self.send_body(b"\xa5" * int(fault.get("extra", 1000)))
                return
            if mode == "cut":
                after = int(fault.get("after", 0))
                self.send_bytes(stream, after - begin if begin < after else length)
                return
            if mode == "cutevery":
                self.send_bytes(stream, int(fault.get("bytes", 0)))
                return
            first = self.send_bytes(stream, int(fault.get("after", 0)) if mode in ("stall", "drip") else length)
            if mode == "stall":
                self.wait_for_client()
            elif mode == "drip":
                self.drip(stream, length - first, float(fault.get("rate", 1000)))


class HttpServer(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128

    def __init__(self, docroot, port=0):
        super().__init__(("127.0.0.1", port), Handler)
        self.docroot = docroot
        self._lock = threading.Lock()
        self._counts = {}

    def count(self, path, add):
        """Adds add to a counter (a path's requests, or (counter, path)); the new value."""
        with self._lock:
            self._counts[path] = self._counts.get(path, 0) + add
            return self._counts[path]

    def handle_error(self, request, client_address):
        pass


def make_ftp_server(docroot):
    # Imported here so that a missing pyftpdlib is reported clearly.
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    # pyftpdlib logs every command to stderr unless its logger already has a handler.
    log = logging.getLogger("pyftpdlib")
    log.addHandler(logging.NullHandler())
    log.propagate = False
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(docroot, perm="elr")

    class Ftp(FTPHandler):
        pass

    Ftp.authorizer = authorizer
    Ftp.banner = "vorel test server"
    return FTPServer(("127.0.0.1", 0), Ftp)


def unused_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def process_alive(pid):
    # An ended parent that is not yet reaped still has an entry, in state Z or X.
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
    except (OSError, IndexError):
        return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--docroot", required=True)
    parser.add_argument("--log", default=os.devnull, help="the serving process's output")
    parser.add_argument("--parent-pid", type=int)
    parser.add_argument("--http-port", type=int, default=0,
                        help="HTTP on this port instead of one the OS picks (for a built-in address)")
    args = parser.parse_args()

    docroot = os.path.abspath(args.docroot)
    if not os.path.isdir(docroot):
        sys.exit("vorel_test_server: no such folder: %s" % docroot)
    log = os.open(args.log, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    # Bound and listening before the fork, so that the ports printed already accept connections.
    http = HttpServer(docroot, args.http_port)
    ftp = make_ftp_server(docroot)
    ports = (http.server_address[1], ftp.socket.getsockname()[1], unused_port())
    sys.stdout.flush()
    pid = os.fork()
    if pid:
        print("http=%d ftp=%d refused=%d pid=%d" % (ports + (pid,)), flush=True)
        os._exit(0)

    # The caller's pipes must see their end when the parent exits, so none stays open here.
    null = os.open(os.devnull, os.O_RDONLY)
    os.dup2(null, 0)
    os.dup2(log, 1)
    os.dup2(log, 2)
    os.close(null)
    os.close(log)
    # Exit at once: no clean-up is worth hanging on a stalled connection.
    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: os._exit(0))
    threading.Thread(target=http.serve_forever, daemon=True).start()
    threading.Thread(target=lambda: ftp.serve_forever(handle_exit=False), daemon=True).start()

    deadline = time.monotonic() + MAX_LIFETIME
    while time.monotonic() < deadline:
        time.sleep(1)
        if args.parent_pid is not None and not process_alive(args.parent_pid):
            break
    os._exit(0)


if __name__ == "__main__":
    main()
