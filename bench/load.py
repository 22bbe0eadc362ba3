#!/usr/bin/env python3
"""Load on the receive side while a show plays.

Sets up a program folder (a copy of build/bin, or of the folder of the program
given) with one show: a generated 25 s media file, a time point every second
with one command each, bound to universal switch 1 (activated). Starts the
program offscreen, starts the show with a switch-on command from a peer on
port 6000, then floods the program's port with 100,000 datagrams, valid and
malformed mixed, as fast as loopback takes them, while the peer captures the
time points the program keeps sending. Afterwards one more switch-on command
must still be answered.

Reports resident memory before and after the flood (goal: growth < 5 MB), the
time-point packets seen during the flood, and whether the reply came. Every
datagram stays on loopback: the program's settings say ip=127.0.0.1 and the
peer sends to 127.0.0.1 only.

    bench/load.py [path/to/cuelark] [--datagrams N]
"""
import argparse
import os
import random
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OWN_SUBNET, OWN_DEVICE = 1, 250
PEER_SUBNET, PEER_DEVICE = 2, 9
MEDIA_SECONDS = 25
TIME_POINT_SUBNET, TIME_POINT_DEVICE = 1, 20
BUS_PORT = 6000
LOOPBACK = "127.0.0.1"


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def packet(opcode, target_subnet, target_device, payload, source=(PEER_SUBNET, PEER_DEVICE),
           magic=b"ZEVIZARERE", lead=(0xAA, 0xAA), length=None, bad_crc=False):
    body = bytes([len(payload) + 11 if length is None else length, source[0], source[1],
                  0x01, 0x2C, opcode >> 8, opcode & 0xFF, target_subnet, target_device]) + bytes(payload)
    crc = crc16(body) ^ (0x0001 if bad_crc else 0)
    return bytes([127, 0, 0, 1]) + magic + bytes(lead) + body + bytes([crc >> 8, crc & 0xFF])


def switch_command(number, status, target_device=OWN_DEVICE):
    return packet(0xE01C, OWN_SUBNET, target_device, [number, status])


def accept(datagram):
    """The receive side's acceptance rules; returns the body or None."""
    if len(datagram) < 27 or datagram[14] != 0xAA or datagram[15] not in (0xAA, 0x55):
        return None
    if datagram[16] == 0xFF:
        return None  # the program never sends long packets
    body = datagram[16:]
    if crc16(body[:-2]) != (body[-2] << 8 | body[-1]):
        return None
    return body


def flood_datagrams(count, seed=1):
    """A deterministic mix: accepted but not acted on, dropped, and a few that act."""
    rng = random.Random(seed)
    kinds = [
        lambda: switch_command(1, 255, target_device=OWN_DEVICE + 1),          # another device
        lambda: packet(0x0031, OWN_SUBNET, OWN_DEVICE, [1, 100, 0, 5]),         # another opcode
        lambda: packet(0xE01C, OWN_SUBNET, OWN_DEVICE, [1, 0], bad_crc=True),    # bad CRC
        lambda: bytes(rng.getrandbits(8) for _ in range(rng.randint(0, 26))),   # too short
        lambda: bytes(rng.getrandbits(8) for _ in range(rng.randint(27, 300))),  # noise
        lambda: packet(0xE01C, OWN_SUBNET, OWN_DEVICE, [0xFF, 0xFF], length=0xFF),  # longest long packet
        lambda: bytes(1400),                                                    # past the buffer
        lambda: packet(0xE01C, OWN_SUBNET, OWN_DEVICE, [1, 0], lead=(0xAA, 0x56)),  # bad lead
        lambda: packet(0xE01C, OWN_SUBNET, OWN_DEVICE, [9, 0], magic=b"NOTAMAGIC!"),  # no show on 9
    ]
    out = []
    for i in range(count):
        if i % 100 == 99:
            out.append(switch_command(1, 255))  # acts: resumes the playing show, replies
        else:
            out.append(kinds[rng.randrange(len(kinds))]())
    return out


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((LOOPBACK, 0))
        return s.getsockname()[1]


def port_bound(port):
    suffix = ":%04X" % port
    with open("/proc/net/udp") as f:
        next(f)
        return any(line.split()[1].endswith(suffix) for line in f)


def vm_rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


def make_media(path):
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                    "-f", "lavfi", "-i", "testsrc=size=160x120:rate=15",
                    "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
                    "-t", str(MEDIA_SECONDS), "-c:v", "libvpx", "-b:v", "100k",
                    "-c:a", "libvorbis", path], check=True)


def make_folder(program, work):
    shutil.copytree(os.path.dirname(program), work, dirs_exist_ok=True)
    port = free_udp_port()
    for name in ("System.ini", "Show.ini"):
        try:
            os.remove(os.path.join(work, "Database", name))
        except FileNotFoundError:
            pass
    with open(os.path.join(work, "Database", "System.ini"), "w", newline="") as f:
        f.write("[ip]\r\nip=127.0.0.1\r\n[Port]\r\nPort=%d\r\n[SubnetID]\r\nSubnetID=%d\r\n"
                "[DeviceID]\r\nDeviceID=%d\r\n" % (port, OWN_SUBNET, OWN_DEVICE))
    media = os.path.join(work, "load-media.webm")
    make_media(media)
    with open(os.path.join(work, "Database", "Show.ini"), "w", newline="") as f:
        f.write("[1]\r\nShowName=Load\r\nURL=%s\r\n" % media)
    db = sqlite3.connect(os.path.join(work, "Database", "DB.sqlite"))
    with db:
        for table in ("CommandsForShow", "TimePoint", "Show", "CommandsForPlay",
                      "CommandsForPause", "CommandsForStop"):
            db.execute("delete from %s" % table)
        db.execute("insert into Show(ShowID,SequenceNo,ActivedUniversalSwitch,UniversalSwitchID)"
                   " values(1,1,1,1)")
        for second in range(MEDIA_SECONDS):
            db.execute("insert into TimePoint(ShowID,TimePointID,SecondOfTimePoint) values(1,?,?)",
                       (second + 1, second))
            # Kind 0 (scene): payload second, 1; 50 ms pause after it.
            db.execute("insert into CommandsForShow(ShowID,TimePointID,CommandID,SequenceNo,"
                       "SubnetID,DeviceID,CommandTypeID,FirstParameter,SecondParameter,"
                       "ThirdParameter,DelayMS) values(1,?,1,1,?,?,0,?,1,0,0)",
                       (second + 1, TIME_POINT_SUBNET, TIME_POINT_DEVICE, second))
    db.close()
    return port


class Capture(threading.Thread):
    """Everything the program broadcasts to port 6000, with arrival times."""

    def __init__(self, program_port):
        super().__init__(daemon=True)
        self.program_port = program_port
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
        self.sock.bind(("", BUS_PORT))
        self.sock.settimeout(0.2)
        self.lock = threading.Lock()
        self.time_points = []  # (arrival, second)
        self.replies = []      # (arrival, switch number, status)
        self.stop = False

    def run(self):
        while not self.stop:
            try:
                data, (host, port) = self.sock.recvfrom(65536)
            except socket.timeout:
                continue
            except OSError:
                return
            now = time.monotonic()
            if host != LOOPBACK or port != self.program_port:
                continue  # someone else on this machine
            body = accept(data)
            if body is None:
                continue
            opcode = body[5] << 8 | body[6]
            with self.lock:
                if opcode == 0x0002 and body[7:9] == bytes([TIME_POINT_SUBNET, TIME_POINT_DEVICE]):
                    self.time_points.append((now, body[9]))
                elif opcode == 0xE01D and body[7:9] == bytes([PEER_SUBNET, PEER_DEVICE]):
                    self.replies.append((now, body[9], body[10]))

    def time_points_between(self, start, end):
        with self.lock:
            return [s for t, s in self.time_points if start <= t <= end]

    def wait_for(self, condition, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                if condition(self):
                    return True
            time.sleep(0.02)
        return False


def end_program(proc):
    if proc.poll() is not None:
        return proc.returncode
    proc.send_signal(signal.SIGTERM)
    try:
        return proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("program", nargs="?", default=os.path.join(ROOT, "build", "bin", "cuelark"))
    parser.add_argument("--datagrams", type=int, default=100_000)
    args = parser.parse_args()
    program = os.path.abspath(args.program)
    if not os.access(program, os.X_OK):
        sys.exit("no program at %s (build it first, or give its path)" % program)

    work = tempfile.mkdtemp(prefix="cuelark-load.")
    proc = None
    capture = None
    try:
        port = make_folder(program, work)
        flood = flood_datagrams(args.datagrams)
        capture = Capture(port)
        capture.start()

        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", CUELARK_MESSAGE_LOG="1")
        log = open(os.path.join(work, "stderr.log"), "w")
        proc = subprocess.Popen([os.path.join(work, os.path.basename(program))], cwd=work,
                                env=env, stdout=subprocess.DEVNULL, stderr=log)
        deadline = time.monotonic() + 30
        while not port_bound(port):
            if proc.poll() is not None or time.monotonic() > deadline:
                log.flush()
                sys.exit("the program did not start:\n" +
                         open(os.path.join(work, "stderr.log")).read())
            time.sleep(0.1)
        time.sleep(1)

        sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sender.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
        target = (LOOPBACK, port)
        # The switch-on command goes out from the capturing peer on port 6000.
        capture.sock.sendto(switch_command(1, 255), target)
        if not capture.wait_for(lambda c: c.replies, 5):
            sys.exit("the show's switch-on command got no reply")
        if not capture.wait_for(lambda c: len(c.time_points) >= 5, 20):
            sys.exit("the show started but no time points arrived")
        calm_start = time.monotonic()
        time.sleep(1)
        calm = capture.time_points_between(calm_start, time.monotonic())
        rss_before = vm_rss_kb(proc.pid)
        replies_before = len(capture.replies)

        flood_start = time.monotonic()
        refused = 0
        for d in flood:
            try:
                sender.sendto(d, target)
            except OSError:
                refused += 1
        flood_end = time.monotonic()
        during = capture.time_points_between(flood_start, flood_end)
        # The program drains what the kernel kept of the flood, one per step.
        time.sleep(2)
        drained_end = time.monotonic()
        after_flood = capture.time_points_between(flood_end, drained_end)
        flood_replies = len(capture.replies) - replies_before

        replies_seen = len(capture.replies)
        asked = time.monotonic()
        capture.sock.sendto(switch_command(1, 255), target)
        got_reply = capture.wait_for(lambda c: len(c.replies) > replies_seen, 5)
        reply_ms = (capture.replies[-1][0] - asked) * 1000 if got_reply else None
        time.sleep(1)
        rss_after = vm_rss_kb(proc.pid)
        alive = proc.poll() is None
        status = end_program(proc)

        seconds = flood_end - flood_start
        growth_kb = rss_after - rss_before
        print("flood: %d datagrams in %.2f s (%.0f/s), %d refused by the sender's socket"
              % (len(flood), seconds, len(flood) / seconds, refused))
        print("time-point packets: %d in the 1 s before the flood; %d during it (%.1f/s, seconds %s);"
              " %d in the 2 s after" % (len(calm), len(during), len(during) / seconds,
                                        sorted(set(during)), len(after_flood)))
        print("switch-on commands inside the flood answered: %d of %d"
              % (flood_replies, len(flood) // 100))
        print("reply after the flood: %s" % ("yes, after %.1f ms" % reply_ms if got_reply else "NO"))
        print("resident memory: %d kB before, %d kB after, growth %d kB (goal < 5120 kB)"
              % (rss_before, rss_after, growth_kb))
        print("program %s; ended on SIGTERM with status %s"
              % ("still running after the flood" if alive else "HAD ENDED", status))
        ok = got_reply and alive and status == 0 and growth_kb < 5120 and (
            len(during) > 0 or seconds < 0.2)
        return 0 if ok else 1
    finally:
        if proc is not None:
            end_program(proc)
        if capture is not None:
            capture.stop = True
            capture.sock.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
