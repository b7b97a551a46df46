#!/usr/bin/env python3
"""A simulated phone on the Linux end of a pty pair: answers nothing, prints
the AT string it receives, and reports keys as 3GPP TS 27.007 keypad events
("+CKEV: <key>,1" on press, "+CKEV: <key>,0" on release), framed by CR LF.
--script plays a short session; without it, keys typed in the terminal
(0-9, * and #) are sent as press then release; q ends."""
import argparse
import os
import select
import sys
import termios
import time
import tty


def say(text):
    print(f"phone: {text}", flush=True)


class Phone:
    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        self.seen = b""
        self.inits = 0

    def pump(self, seconds):
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready:
                data = os.read(self.fd, 256)
                self.seen += data
                while b"AT+CMER=3,2\r\n" in self.seen:
                    _, _, self.seen = self.seen.partition(b"AT+CMER=3,2\r\n")
                    self.inits += 1
                    say("received the AT string (ATZ, AT+CMER=3,2): keypad reporting is on")

    def wait_for_init(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end and self.inits == 0:
            self.pump(0.2)
        return self.inits > 0

    def key(self, key, hold, note=""):
        os.write(self.fd, f"\r\n+CKEV: {key},1\r\n".encode())
        say(f"key {key} pressed{' (' + note + ')' if note else ''}")
        self.pump(hold)
        os.write(self.fd, f"\r\n+CKEV: {key},0\r\n".encode())
        say(f"key {key} released")
        self.pump(0.4)


SCRIPT = [
    ("5", 0.2, "WINAMP,40046: the player window gets the command"),
    ("2", 0.2, "KEYPRESS,$11,43: Ctrl+C"),
    ("3", 0.2, "MOUSECLICK,L"),
    ("6", 0.6, "MOUSEMOVE,X,5 while held"),
    ("9", 0.3, "VOLUME,1 while held"),
    ("#", 0.2, "WINAMP,40048"),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("path")
    ap.add_argument("--script", action="store_true")
    args = ap.parse_args()
    phone = Phone(args.path)
    say("waiting for Quorvix to open the port ...")
    phone.pump(0)
    if not phone.wait_for_init(30):
        say("no AT string within 30 s")
        return 1
    phone.pump(0.5)
    if args.script:
        for key, hold, note in SCRIPT:
            phone.key(key, hold, note)
        phone.pump(1)
        return 0
    say("press 0-9, * or # to send a key; q ends")
    old = termios.tcgetattr(sys.stdin)
    tty.setcbreak(sys.stdin)
    try:
        while True:
            ready, _, _ = select.select([sys.stdin, phone.fd], [], [], 1)
            if phone.fd in ready:
                phone.pump(0)
            if sys.stdin in ready:
                ch = sys.stdin.read(1)
                if ch in "qQ":
                    return 0
                if ch in "0123456789*#":
                    phone.key(ch, 0.15)
    finally:
        termios.tcsetattr(sys.stdin, termios.TCSADRAIN, old)


sys.exit(main())
