"""A headless Chromium driven over its DevTools pipe (no network, no packages beyond Python's own):
open a page, read what it logged, evaluate script in it, click, and take screenshots."""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time


def chromium():
    """The browser's executable, or None."""
    return shutil.which("chromium") or shutil.which("chromium-browser")


class Browser:
    def __init__(self, width=1280, height=800):
        self.profile = tempfile.mkdtemp(prefix="nimbo-chromium-")
        to_browser, self._out = os.pipe()
        self._in, from_browser = os.pipe()

        def pipes():  # the browser reads commands on fd 3 and answers on fd 4
            reading, writing = os.dup(to_browser), os.dup(from_browser)
            os.dup2(reading, 3)
            os.dup2(writing, 4)

        self.process = subprocess.Popen(
            [chromium(), "--headless", "--no-sandbox", "--remote-debugging-pipe", "--use-angle=swiftshader",
             "--enable-unsafe-swiftshader", "--no-first-run", "--no-default-browser-check", "--disable-extensions",
             "--disable-background-networking", "--disable-sync", "--mute-audio", "--hide-scrollbars",
             f"--window-size={width},{height}", f"--user-data-dir={self.profile}", "about:blank"],
            close_fds=False, preexec_fn=pipes, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self._next = 0
        self._buffer = b""
        self.events = []
        page = next(t for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"], flatten=True)["sessionId"]
        for domain in ("Runtime", "Log", "Page", "Network"):
            self.call(domain + ".enable", session=True)

    def close(self):
        self.process.kill()
        self.process.wait()
        os.close(self._out)
        os.close(self._in)
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def _message(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\0" not in self._buffer:
            if time.monotonic() > deadline:
                raise TimeoutError("no answer from chromium")
            chunk = os.read(self._in, 1 << 20)
            if not chunk:
                raise RuntimeError("chromium closed its pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, session=False, timeout=60, **params):
        self._next += 1
        request = {"id": self._next, "method": method, "params": params}
        if session:
            request["sessionId"] = self.session
        os.write(self._out, json.dumps(request).encode() + b"\0")
        while True:
            message = self._message(timeout)
            if message.get("id") == self._next:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']['message']}")
                return message.get("result", {})
            self.events.append(message)

    def evaluate(self, expression, timeout=60):
        result = self.call("Runtime.evaluate", session=True, timeout=timeout, expression=expression,
                           awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def open(self, path, timeout=120):
        """Opens the file and waits until the page says it is ready (or failed)."""
        self.call("Page.navigate", session=True, url="file://" + os.path.abspath(path))
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            state = self.evaluate("document.body && document.body.dataset.state")
            if state in ("ready", "error"):
                self.settle()
                return state
            time.sleep(0.1)
        raise TimeoutError(f"{path} did not load in {timeout} s")

    def settle(self):
        """Waits for two frames, so that what changed is drawn."""
        self.evaluate("new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)))")

    def errors(self):
        """What the page reported as errors: console.error, uncaught exceptions, failed loads."""
        found = []
        for event in self.events:
            method, params = event.get("method"), event.get("params", {})
            if method == "Runtime.consoleAPICalled" and params["type"] == "error":
                found.append(" ".join(str(a.get("value", a.get("description"))) for a in params["args"]))
            elif method == "Runtime.exceptionThrown":
                found.append(params["exceptionDetails"].get("exception", {}).get("description", "exception"))
            elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
                found.append(params["entry"]["text"])
        return found

    def requests(self):
        """The URLs the page asked for."""
        return [e["params"]["request"]["url"] for e in self.events if e.get("method") == "Network.requestWillBeSent"]

    def box(self, selector):
        """The element's box in CSS pixels: x, y, width, height."""
        return self.evaluate(f"(() => {{ const r = document.querySelector({json.dumps(selector)})"
                             ".getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()")

    def click(self, selector):
        self.evaluate(f"document.querySelector({json.dumps(selector)}).scrollIntoView({{block: 'center', inline: 'nearest'}})")
        x, y, width, height = self.box(selector)
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", session=True, type=kind, x=x + width / 2, y=y + height / 2,
                      button="left", clickCount=1)
        self.settle()

    def screenshot(self, selector=None):
        """A PNG, of the element alone when a selector is given, as a data URL."""
        params = {"format": "png"}
        if selector:
            x, y, width, height = self.box(selector)
            params["clip"] = {"x": x, "y": y, "width": width, "height": height, "scale": 1}
        return "data:image/png;base64," + self.call("Page.captureScreenshot", session=True, **params)["data"]

    def png(self, data_url):
        return base64.b64decode(data_url.split(",", 1)[1])

    def differing_pixels(self, first, second=None, background=(244, 245, 247)):
        """Pixels of `first` that differ from `second`, or from the background colour; the browser
        decodes the images."""
        return self.evaluate("""(async (first, second, background) => {
            const pixels = async (url) => {
              const image = new Image(); image.src = url; await image.decode();
              const canvas = new OffscreenCanvas(image.width, image.height);
              const context = canvas.getContext('2d'); context.drawImage(image, 0, 0);
              return context.getImageData(0, 0, image.width, image.height).data;
            };
            const a = await pixels(first), b = second ? await pixels(second) : null;
            let count = 0;
            for (let i = 0; i < a.length; i += 4) {
              const other = b ? [b[i], b[i + 1], b[i + 2]] : background;
              if (Math.abs(a[i] - other[0]) + Math.abs(a[i + 1] - other[1]) + Math.abs(a[i + 2] - other[2]) > 24) ++count;
            }
            return count;
        })(%s, %s, %s)""" % (json.dumps(first), json.dumps(second), json.dumps(list(background))))
