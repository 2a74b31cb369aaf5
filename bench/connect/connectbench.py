#!/usr/bin/env python3
"""Connection set-up time and round trip through the VPN, per transport, beside Debian's openvpn.

Runs inside the lab's client host; bench/connect/run-connect-bench starts it there with the lab's
addresses. Each round connects once with every variant, bare openvpn first, so that a slow moment
of the shared machine falls on all of them alike. Times are monotonic and taken as each line
arrives on the program's standard output.
"""

import argparse
import os
import select
import signal
import socket
import statistics
import subprocess
import sys
import time

CONNECT_SECONDS = 60
STOP_SECONDS = 30
OPENVPN_UP = "Initialization Sequence Completed"

# Name, nimbora-connect protocol, HTTP upload settings (streaming, file upload) or None.
VARIANTS = [
    ("openvpn", "openvpn", None),
    ("https", "https", None),
    ("http-plain", "http", (False, False)),
    ("http-streaming", "http", (True, False)),
    ("http-file-upload", "http", (True, True)),
]
BARE = "bare-openvpn"


class LineReader:
    """Lines of a child's standard output, each with the monotonic time it arrived, copied to a log."""

    def __init__(self, process, log_path):
        self.fd = process.stdout.fileno()
        self.pending = b""
        self.eof = False
        self.marks = {}  # name: predicate, for lines noted on the way
        self.marked = {}  # name: arrival of the first line that matched
        self.started = time.monotonic()
        self.log = open(log_path, "w", encoding="utf-8")

    def close(self):
        self.log.close()

    def _read(self, timeout):
        """One read; returns (arrival, complete lines) or None at the time-out."""
        ready, _, _ = select.select([self.fd], [], [], max(timeout, 0))
        if not ready:
            return None
        chunk = os.read(self.fd, 65536)
        arrival = time.monotonic()
        if not chunk:
            self.eof = True
            lines, self.pending = [self.pending] if self.pending else [], b""
        else:
            *lines, self.pending = (self.pending + chunk).split(b"\n")
        texts = [line.decode("utf-8", "replace") for line in lines]
        for text in texts:
            self.log.write("%9.3f %s\n" % (arrival - self.started, text))
            for name, matches in self.marks.items():
                if name not in self.marked and matches(text):
                    self.marked[name] = arrival
        return arrival, texts

    def wait_for(self, matches, seconds):
        """The arrival time of the first line that matches; None at the end of output or the time-out."""
        deadline = time.monotonic() + seconds
        while not self.eof:
            got = self._read(deadline - time.monotonic())
            if got is None:
                return None
            arrival, texts = got
            if any(matches(text) for text in texts):
                return arrival
        return None

    def drain(self):
        """Takes what is there without waiting, so that a talkative child never blocks on a full pipe."""
        while not self.eof and self._read(0) is not None:
            pass


def stop(process, reader):
    """SIGTERM, then the end of its output and its exit status; None when it had to be killed."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
    reader.wait_for(lambda text: False, STOP_SECONDS)
    try:
        return process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def round_trip_ms(address, port, count):
    """Median of COUNT one-byte echoes on one TCP connection, in ms."""
    times = []
    with socket.create_connection((address, port), timeout=10) as connection:
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for _ in range(count):
            start = time.perf_counter()
            connection.sendall(b"x")
            if connection.recv(1) != b"x":
                raise OSError("the echo closed the connection")
            times.append(time.perf_counter() - start)
    return statistics.median(times) * 1000


def write_settings(folder, main_host, http_upload):
    """A settings store of the variant's own: the main server of the lab, no proxy, the upload mode."""
    paths = {name: os.path.join(folder, name) for name in ("home", "config", "data")}
    for path in paths.values():
        os.makedirs(path, exist_ok=True)
    os.makedirs(os.path.join(paths["config"], "Ostrelle"), exist_ok=True)
    text = (
        "[options]\n"
        "connection\\mainServerAddress=%s\n"
        "connection\\mainServerSecure=true\n"
        "connection\\proxy=none\n" % main_host
    )
    if http_upload is not None:
        streaming, file_upload = http_upload
        text += "\n[tunnelSettings]\nhttp\\streaming=%s\nhttp\\fileUpload=%s\n" % (
            str(streaming).lower(),
            str(file_upload).lower(),
        )
    with open(os.path.join(paths["config"], "Ostrelle", "Nimbora.conf"), "w", encoding="utf-8") as store:
        store.write(text)
    environment = dict(os.environ)
    environment.update(
        HOME=paths["home"],
        XDG_CONFIG_HOME=paths["config"],
        XDG_DATA_HOME=paths["data"],
        GSETTINGS_BACKEND="keyfile",
    )
    return environment


class Bench:
    def __init__(self, options):
        self.options = options
        self.connect_ms = {name: [] for name in [BARE] + [variant[0] for variant in VARIANTS]}
        # Ours split where OpenVPN's own "Initialization Sequence Completed" reaches the log.
        self.openvpn_up_ms = {variant[0]: [] for variant in VARIANTS}
        self.after_openvpn_ms = {variant[0]: [] for variant in VARIANTS}
        self.rtt_ms = {}
        self.failures = []
        self.environments = {
            name: write_settings(os.path.join(options.work, "store-" + name), options.main_host, upload)
            for name, _, upload in VARIANTS
        }

    def log_path(self, name, round_index):
        return os.path.join(self.options.logs, "connect-%s-%d.log" % (name, round_index + 1))

    def fail(self, name, round_index, why):
        self.failures.append(name)
        print("%s, run %d: %s (see %s)" % (name, round_index + 1, why, self.log_path(name, round_index)),
              file=sys.stderr)

    def echo_while_up(self, name, reader):
        reader.drain()
        try:
            self.rtt_ms[name] = round_trip_ms(self.options.gateway, self.options.echo_port, self.options.round_trips)
        except OSError as problem:
            print("%s: no echo through the VPN: %s" % (name, problem), file=sys.stderr)
            self.failures.append(name)
        reader.drain()

    def run_bare(self, round_index, measure_rtt):
        o = self.options
        command = [
            o.openvpn, "--client", "--dev", o.tun, "--dev-type", "tun", "--proto", "tcp-client", "--ca", o.ca,
            "--remote-cert-tls", "server", "--reneg-sec", "0", "--auth-nocache", "--compress", "--resolv-retry", "0",
            "--ping", "10", "--ping-exit", "30", "--connect-retry", "1", "1", "--connect-retry-max", "5",
            "--verb", "3", "--auth-user-pass", o.auth, "--remote", o.endpoint, "443",
        ]  # fmt: skip
        start = time.monotonic()
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
        reader = LineReader(process, self.log_path(BARE, round_index))
        try:
            up = reader.wait_for(lambda text: OPENVPN_UP in text, CONNECT_SECONDS)
            if up is None:
                self.fail(BARE, round_index, "no \"Initialization Sequence Completed\"")
            else:
                self.connect_ms[BARE].append((up - start) * 1000)
                if measure_rtt:
                    self.echo_while_up(BARE, reader)
            stop(process, reader)
        finally:
            reader.close()

    def run_ours(self, name, protocol, round_index, measure_rtt):
        o = self.options
        command = [
            o.connect, "--user", o.user, "--password-file", o.password_file, "--tunnel", o.tunnel,
            "--protocol", protocol, "--interface", o.tun, "--ca", o.ca,
        ]  # fmt: skip
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, env=self.environments[name])
        reader = LineReader(process, self.log_path(name, round_index))
        # OpenVPN's line comes through the log signal, which may reach the output after "connected".
        reader.marks["openvpn"] = lambda text: text.startswith("log: ") and OPENVPN_UP in text
        try:
            start = reader.wait_for(lambda text: text.startswith("tunnel: "), CONNECT_SECONDS)
            up = None
            if start is None:
                self.fail(name, round_index, "no \"tunnel:\" line")
            else:
                up = reader.wait_for(lambda text: text == "connected", CONNECT_SECONDS)
                if up is not None and "openvpn" not in reader.marked:
                    reader.wait_for(lambda text: "openvpn" in reader.marked, 5)
                if up is None:
                    self.fail(name, round_index, "not connected")
            if up is not None and measure_rtt:
                self.echo_while_up(name, reader)
            status = stop(process, reader)
            if status != 0:
                self.fail(name, round_index, "exit status %s after SIGTERM" % status)
            elif up is not None:
                self.connect_ms[name].append((up - start) * 1000)
                openvpn_up = reader.marked.get("openvpn")
                if openvpn_up is not None:
                    self.openvpn_up_ms[name].append((openvpn_up - start) * 1000)
                    self.after_openvpn_ms[name].append((up - openvpn_up) * 1000)
        finally:
            reader.close()

    def run(self):
        o = self.options
        try:
            self.rtt_ms["straight"] = round_trip_ms(o.straight_address, o.straight_port, o.round_trips)
        except OSError as problem:
            print("straight echo: %s" % problem, file=sys.stderr)
            self.failures.append("straight")
        for round_index in range(o.runs):
            # Round trips once per variant, in the last round: they do not touch the connect times.
            last = round_index == o.runs - 1
            self.run_bare(round_index, last)
            for name, protocol, _ in VARIANTS:
                self.run_ours(name, protocol, round_index, last)

    def report(self):
        o = self.options
        bare = median_or_none(self.connect_ms[BARE])
        print("# connect: median of %d runs, ms, from the start of the connection work (\"tunnel:\") to "
              "\"connected\";" % o.runs)
        print("#   peer: openvpn on the same endpoint, from its start to \"Initialization Sequence Completed\"; "
              "target ratio <= 1.2")
        for name, _, _ in VARIANTS:
            ours = median_or_none(self.connect_ms[name])
            print("connect %-17s ours %s  bare openvpn %s  ratio %s"
                  % (name, ms(ours, 1), ms(bare, 1), ratio(ours, bare)))
        straight = self.rtt_ms.get("straight")
        print("# rtt: median of %d one-byte echoes on one TCP connection, ms, to the echo service through the VPN;"
              % o.round_trips)
        print("#   peer: the same echo server reached straight, without the VPN; added = ours - straight")
        for name in [variant[0] for variant in VARIANTS] + [BARE]:
            ours = self.rtt_ms.get(name)
            added = None if ours is None or straight is None else ours - straight
            print("rtt     %-17s ours %s  straight %s  added %s  ratio %s"
                  % (name, ms(ours, 3), ms(straight, 3), ms(added, 3), ratio(ours, straight)))
        print("# connect of each run, ms; for ours, medians of its two parts: up to OpenVPN's \"Initialization "
              "Sequence Completed\" in the log, and from there to \"connected\"")
        for name, times in self.connect_ms.items():
            parts = ""
            if self.openvpn_up_ms.get(name):
                parts = "  (openvpn up %.1f + after %.1f)" % (
                    statistics.median(self.openvpn_up_ms[name]),
                    statistics.median(self.after_openvpn_ms[name]),
                )
            print("# %-17s %s%s" % (name, " ".join("%.0f" % value for value in times) or "-", parts))


def median_or_none(values):
    return statistics.median(values) if values else None


def ms(value, decimals):
    return "%9s" % ("FAILED" if value is None else "%.*f ms" % (decimals, value))


def ratio(ours, peer):
    return "-" if ours is None or peer is None or peer == 0 else "%.2f" % (ours / peer)


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    add = parser.add_argument
    add("--connect", required=True, help="nimbora-connect")
    add("--openvpn", default="openvpn")
    add("--work", required=True, help="folder for the private settings stores")
    add("--logs", required=True, help="folder for each run's output")
    add("--main-host", required=True)
    add("--user", required=True)
    add("--password-file", required=True, help="the subscriber's password, closed to group and others")
    add("--auth", required=True, help="OpenVPN credentials file (user name, session) for bare openvpn")
    add("--tunnel", required=True, help="SERVER/COUNTRY/TUNNEL of the endpoint")
    add("--endpoint", required=True, help="the endpoint's address, for bare openvpn")
    add("--gateway", required=True, help="the echo service's address inside the VPN")
    add("--echo-port", type=int, required=True)
    add("--straight-address", required=True)
    add("--straight-port", type=int, required=True)
    add("--ca", required=True)
    add("--tun", required=True)
    add("--runs", type=int, default=10)
    add("--round-trips", type=int, default=200)
    return parser.parse_args()


def main():
    bench = Bench(parse_arguments())
    bench.run()
    bench.report()
    return 1 if bench.failures else 0


if __name__ == "__main__":
    sys.exit(main())
