#!/usr/bin/env python3
"""A phone's browser on the keypad page: Debian's headless Chromium, driven
through the DevTools protocol over a pipe, with a phone's screen and touch
events. It loads the page, taps one key, holds another, holds it again and
closes the tab while it is down. After each step it writes a file of that
step's name into DIR, which the test under Wine waits for, and it takes a
screenshot of the connected page (DIR/keypad.png).
usage: keypad_browser.py URL DIR TAP_KEY HOLD_KEY"""
import base64
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

STEP_SECONDS = 60
HOLD_SECONDS = 1.5


class Browser:
    def __init__(self, profile):
        # The protocol's pipe is the child's fd 3 (commands in) and fd 4
        # (answers out); ours are moved above them first.
        cmd_r, cmd_w = os.pipe()
        res_r, res_w = os.pipe()
        self.child_in, self.child_out = 100, 101
        os.dup2(cmd_r, self.child_in)
        os.dup2(res_w, self.child_out)
        for fd in (cmd_r, res_w):
            os.close(fd)
        self.write_fd, self.read_fd = cmd_w, res_r
        child_in, child_out = self.child_in, self.child_out

        def wire():
            os.dup2(child_in, 3)
            os.dup2(child_out, 4)

        self.proc = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--remote-debugging-pipe", "--user-data-dir=" + profile,
             "about:blank"],
            pass_fds=(3, 4, child_in, child_out), preexec_fn=wire,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(child_in)
        os.close(child_out)
        self.buffer = b""
        self.next_id = 0

    def read(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.read_fd], [], [], left)[0]:
                raise RuntimeError("Chromium did not answer in time")
            chunk = os.read(self.read_fd, 1 << 16)
            if not chunk:
                raise RuntimeError("Chromium ended")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.write_fd, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + STEP_SECONDS
        while True:
            answer = self.read(deadline)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(method + ": " + json.dumps(answer["error"]))
                return answer.get("result", {})

    def close(self):
        self.proc.kill()
        self.proc.wait()


def main():
    url, folder, tap_key, hold_key = sys.argv[1:5]
    profile = tempfile.mkdtemp(prefix="quorvix-chromium-")
    browser = Browser(profile)

    def step(name):
        print(time.strftime("%H:%M:%S"), name, flush=True)
        with open(os.path.join(folder, name), "w") as f:
            f.write(name)

    try:
        target = browser.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = browser.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]

        def evaluate(expression):
            result = browser.send("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session)
            return result.get("result", {}).get("value")

        def touch(kind, key):
            point = evaluate("(function(){var r=document.querySelector('[data-key=\"%s\"]')"
                             ".getBoundingClientRect();return [r.x+r.width/2,r.y+r.height/2];})()" % key)
            points = [{"x": point[0], "y": point[1], "id": 1}] if kind != "touchEnd" else []
            browser.send("Input.dispatchTouchEvent", {"type": kind, "touchPoints": points}, session)

        browser.send("Emulation.setDeviceMetricsOverride",
                     {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True}, session)
        browser.send("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5}, session)
        browser.send("Page.enable", {}, session)
        browser.send("Page.navigate", {"url": url}, session)
        deadline = time.monotonic() + STEP_SECONDS
        while evaluate("document.body ? document.body.getAttribute('data-state') : ''") != "connected":
            if time.monotonic() > deadline:
                raise RuntimeError("the page never said it was connected: " +
                                   str(evaluate("document.getElementById('status').textContent")))
            time.sleep(0.1)
        shot = browser.send("Page.captureScreenshot", {"format": "png"}, session)["data"]
        with open(os.path.join(folder, "keypad.png"), "wb") as f:
            f.write(base64.b64decode(shot))
        step("connected")
        touch("touchStart", tap_key)
        touch("touchEnd", tap_key)
        step("tapped")
        touch("touchStart", hold_key)
        step("holding")
        time.sleep(HOLD_SECONDS)
        touch("touchEnd", hold_key)
        step("released")
        time.sleep(HOLD_SECONDS)
        touch("touchStart", hold_key)
        step("holding-again")
        time.sleep(HOLD_SECONDS)
        browser.send("Target.closeTarget", {"targetId": target})
        step("closed")
        return 0
    except Exception as e:  # the test names the step that was not reached
        print("keypad_browser:", e, flush=True)
        return 1
    finally:
        browser.close()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
