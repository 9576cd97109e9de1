#!/usr/bin/env python3
"""The Linux side of the bridge's end-to-end tests, its demo and its bench.

Starts a real IPP printer (ippeveprinter, on a private D-Bus system bus and a
free local port), a fake printer for what ippeveprinter cannot do, and a
control server through which the Windows program it then runs (under Wine)
submits jobs with ipptool and steers both printers. Ends everything it
started, by process id, when that program ends, and exits with its exit code.

    printer_peer.py [--] COMMAND [ARGUMENT...]

COMMAND gets in its environment:
  BRIDGE_PRINTER_URI  ipp://127.0.0.1:PORT/ipp/print   (ippeveprinter)
  BRIDGE_FAKE_URI     ipp://127.0.0.1:PORT/ipp/print   (the fake printer)
  BRIDGE_DEAD_URI     ipp://127.0.0.1:PORT/ipp/print   (nothing listens there)
  BRIDGE_PEER_URL     http://127.0.0.1:PORT             (the control server)

Control server (GET unless said otherwise; answers 200 and a short text):
  POST /submit   body: a job script (below); submits it with ipptool and
                 answers "JOB-ID TOKEN"
  /go?token=T    lets job T's script run to its next "wait"
  /supplies?Q    passes Q on to ippeveprinter's /supplies page
  /fake?reasons=a,b          the fake printer's printer-state-reasons
  /fake?job=STATE            its job's state: processing, completed, forgotten
  /fake?fault=NAME           the fake's next answer fails so (one answer):
      http500, lying-ipp, lying-http, cut, huge, huge-unannounced, slow;
      or "offline": nothing listens for 1.5 s from now
  /fake?reset=1              a new job 1, processing, no reasons, no fault

Job script (the document that ippeveprinter's print command runs), a line
each: "wait" (until the next /go), "state +media-jam-error" (a STATE: line
for ippeveprinter), "supplies supply1=8" (ippeveprinter's /supplies page),
"fail" (the job ends in error).
"""

import http.server
import os
import shutil
import signal
import socket
import socketserver
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

DEADLINE_S = 20


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process=None):
    end = time.monotonic() + DEADLINE_S
    while time.monotonic() < end:
        if process is not None and process.poll() is not None:
            raise RuntimeError("ippeveprinter ended at start, exit code %d" % process.returncode)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d after %d s" % (port, DEADLINE_S))


# The print command: runs the job script that is the document.
PRINT_COMMAND = r"""#!/bin/sh
dir='@DIR@'
n=0
token=x
while IFS= read -r line; do
  case "$line" in
    "job "*) token=${line#job } ;;
    wait)
      n=$((n + 1)); t=0
      while [ ! -e "$dir/go-$token-$n" ]; do
        sleep 0.02; t=$((t + 1))
        [ $t -gt 15000 ] && { echo "ERROR: no go $n in 300 s" >&2; exit 1; }
      done ;;
    "state "*) echo "STATE: ${line#state }" >&2 ;;
    "supplies "*) curl -s -o /dev/null "http://127.0.0.1:@PORT@/supplies?${line#supplies }" ;;
    fail) exit 1 ;;
  esac
done < "$1"
exit 0
"""


class Ipp:
    """Just enough IPP to answer the bridge's three operations."""

    @staticmethod
    def attr(tag, name, values):
        out = b""
        for i, value in enumerate(values):
            if isinstance(value, int):
                data = struct.pack(">i", value)
            elif isinstance(value, str):
                data = value.encode()
            else:
                data = value
            key = name.encode() if i == 0 else b""
            out += struct.pack(">BH", tag, len(key)) + key + struct.pack(">H", len(data)) + data
        return out

    @staticmethod
    def response(status, request_id, groups):
        body = struct.pack(">BBHI", 1, 1, status, request_id)
        body += b"\x01" + Ipp.attr(0x47, "attributes-charset", ["utf-8"])
        body += Ipp.attr(0x48, "attributes-natural-language", ["en"])
        for tag, attributes in groups:
            body += bytes([tag]) + attributes
        return body + b"\x03"


class FakePrinter:
    """A printer that answers what the test tells it, faults included."""

    def __init__(self, port):
        self.port = port
        self.lock = threading.Lock()
        self.reset()
        self.server = None
        self.listen()

    def reset(self):
        self.reasons = ["none"]
        self.job_state = "processing"
        self.faults = []

    def listen(self):
        fake = self

        class Handler(http.server.BaseHTTPRequestHandler):
            # Every answer closes its connection, so that each request
            # connects anew (and meets a printer gone offline).
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def end_headers(self):
                self.send_header("Connection", "close")
                self.close_connection = True
                super().end_headers()

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                request = self.rfile.read(length)
                fake.answer(self, request)

        socketserver.TCPServer.allow_reuse_address = True
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", self.port), Handler)
        self.server.daemon_threads = True
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def offline(self, milliseconds):
        # Connection refused: nothing listens until the time is up.
        server = self.server
        server.shutdown()
        server.server_close()

        def back():
            time.sleep(milliseconds / 1000)
            self.listen()

        threading.Thread(target=back, daemon=True).start()

    def body_for(self, request):
        operation, request_id = struct.unpack(">HI", request[2:8])
        with self.lock:
            reasons, job_state = list(self.reasons), self.job_state
        states = {"processing": 5, "completed": 9}
        if operation == 0x000B:  # Get-Printer-Attributes
            attrs = Ipp.attr(0x23, "printer-state", [4 if job_state == "processing" else 3])
            attrs += Ipp.attr(0x44, "printer-state-reasons", reasons)
            attrs += Ipp.attr(0x42, "printer-name", ["Fake Printer"])
            return Ipp.response(0, request_id, [(0x04, attrs)])
        if job_state == "forgotten":
            if operation == 0x000A:  # Get-Jobs: none left
                return Ipp.response(0, request_id, [])
            return Ipp.response(0x0406, request_id, [])
        job = Ipp.attr(0x21, "job-id", [1]) + Ipp.attr(0x23, "job-state", [states[job_state]])
        job += Ipp.attr(0x44, "job-state-reasons", ["job-printing"])
        job += Ipp.attr(0x42, "job-name", ["fake.txt"])
        return Ipp.response(0, request_id, [(0x02, job)])

    def answer(self, handler, request):
        with self.lock:
            fault = self.faults.pop(0) if self.faults else None
        body = self.body_for(request)
        try:
            if fault == "http500":
                handler.send_response(500)
                handler.send_header("Content-Length", "0")
                handler.end_headers()
                return
            if fault == "slow":
                time.sleep(7)  # beyond the bridge's 5 s
            if fault == "lying-ipp":
                # An attribute whose value length runs 1000 bytes past the body.
                body = body[:-1] + struct.pack(">BH", 0x44, 1) + b"x" + struct.pack(">H", 1000)
                body += b"short"
            if fault in ("huge", "huge-unannounced"):
                body = body[:-1] + Ipp.attr(0x41, "printer-info", [b"x" * 60000]) * 35 + b"\x03"
            handler.send_response(200)
            handler.send_header("Content-Type", "application/ipp")
            if fault == "lying-http":
                # More bytes than Content-Length says: the rest is dropped.
                handler.send_header("Content-Length", str(len(body) // 2))
            elif fault == "cut":
                handler.send_header("Content-Length", str(len(body) + 5000))
            elif fault != "huge-unannounced":
                handler.send_header("Content-Length", str(len(body)))
            handler.end_headers()
            handler.wfile.write(body)
            handler.wfile.flush()
            if fault == "cut":
                handler.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass  # the bridge gave up on this answer

    def control(self, query):
        with self.lock:
            if "reset" in query:
                self.reset()
            if "reasons" in query:
                self.reasons = query["reasons"][0].split(",")
            if "job" in query:
                self.job_state = query["job"][0]
            if "fault" in query:
                if query["fault"][0] == "offline":
                    self.offline(1500)
                else:
                    self.faults.append(query["fault"][0])


class Peer:
    def __init__(self, work):
        self.work = work
        self.control = self.printer = self.dbus_pid = self.log = None
        self.tokens = 0
        self.steps = {}
        self.lock = threading.Lock()
        self.processes = []

    def start(self):
        bus = os.path.join(self.work, "bus")
        dbus = subprocess.run(
            ["dbus-daemon", "--session", "--address=unix:path=" + bus, "--fork", "--print-pid"],
            check=True, capture_output=True, text=True)
        self.dbus_pid = int(dbus.stdout.split()[0])
        self.ipp_port = free_port()
        command = os.path.join(self.work, "print.sh")
        with open(command, "w") as f:
            f.write(PRINT_COMMAND.replace("@DIR@", self.work).replace("@PORT@", str(self.ipp_port)))
        os.chmod(command, 0o755)
        spool = os.path.join(self.work, "spool")
        os.mkdir(spool)
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + bus)
        self.log = open(os.path.join(self.work, "ippeveprinter.log"), "w")
        self.printer = subprocess.Popen(
            ["ippeveprinter", "-r", "off", "-p", str(self.ipp_port), "-c", command, "-d", spool, "-f", "text/plain", "-k", "Kestrel IPP"],
            env=env, stdout=self.log, stderr=subprocess.STDOUT)
        wait_for_port(self.ipp_port, self.printer)
        self.fake = FakePrinter(free_port())
        peer = self

        class Control(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def reply(self, code, text):
                data = text.encode()
                self.send_response(code)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def do_GET(self):
                url = urllib.parse.urlsplit(self.path)
                try:
                    self.reply(200, peer.get(url.path, url.query))
                except Exception as e:  # the test reads why
                    self.reply(500, str(e))

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                script = self.rfile.read(length).decode()
                try:
                    self.reply(200, peer.submit(script))
                except Exception as e:
                    self.reply(500, str(e))

        self.control = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Control)
        threading.Thread(target=self.control.serve_forever, daemon=True).start()

    def ipp_uri(self, port):
        return "ipp://127.0.0.1:%d/ipp/print" % port

    def supplies(self, query):
        url = "http://127.0.0.1:%d/supplies?%s" % (self.ipp_port, query)
        with urllib.request.urlopen(url, timeout=10) as answer:
            answer.read()

    def submit(self, script):
        with self.lock:
            self.tokens += 1
            token = "t%d" % self.tokens
        # Each job starts with full supplies and an empty waste container.
        self.supplies("supply0=10&supply1=90")
        document = os.path.join(self.work, token + ".txt")
        with open(document, "w") as f:
            f.write("job %s\n%s\n" % (token, script))
        done = subprocess.run(
            ["ipptool", "-tv", "-f", document, self.ipp_uri(self.ipp_port), "print-job.test"],
            capture_output=True, text=True, timeout=30)
        for line in done.stdout.splitlines():
            words = line.split()
            if len(words) == 4 and words[0] == "job-id" and words[2] == "=":
                return "%s %s" % (words[3], token)
        raise RuntimeError("ipptool did not submit the job:\n" + done.stdout + done.stderr)

    def get(self, path, query):
        fields = urllib.parse.parse_qs(query)
        if path == "/go":
            token = fields["token"][0]
            with self.lock:
                self.steps[token] = self.steps.get(token, 0) + 1
                step = self.steps[token]
            open(os.path.join(self.work, "go-%s-%d" % (token, step)), "w").close()
            return str(step)
        if path == "/supplies":
            self.supplies(query)
            return "ok"
        if path == "/fake":
            self.fake.control(fields)
            return "ok"
        raise RuntimeError("unknown request " + path)

    def stop(self):
        if self.control:
            self.control.shutdown()
        if self.printer:
            self.printer.terminate()
            try:
                self.printer.wait(10)
            except subprocess.TimeoutExpired:
                self.printer.kill()
                self.printer.wait()
        if self.dbus_pid:
            os.kill(self.dbus_pid, signal.SIGTERM)
        if self.log:
            self.log.close()


def main(argv):
    if argv and argv[0] == "--":
        argv = argv[1:]
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix="printer-peer-")
    peer = Peer(work)
    try:
        peer.start()
        env = dict(os.environ,
                   BRIDGE_PRINTER_URI=peer.ipp_uri(peer.ipp_port),
                   BRIDGE_FAKE_URI=peer.ipp_uri(peer.fake.port),
                   BRIDGE_DEAD_URI=peer.ipp_uri(free_port()),
                   BRIDGE_PEER_URL="http://127.0.0.1:%d" % peer.control.server_address[1])
        return subprocess.run(argv, env=env).returncode
    finally:
        peer.stop()
        if os.environ.get("PRINTER_PEER_KEEP"):
            print("printer peer files kept in " + work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
