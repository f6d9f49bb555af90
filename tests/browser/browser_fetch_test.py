#!/usr/bin/env python3
"""Real browsers call the service: Debian's Chromium and Firefox ESR, headless, load a page from a
local HTTP server on 127.0.0.1 and call the service with the README's fetch(): the version
command, the files command on a local image, and the HTML-file command. Every answer the page
reads must equal what curl gets for the same envelope.

What it shows integrators:
- The envelope goes as text/plain (a simple request). With application/json the browser first
  sends a preflight; the service's preflight answer allows no request headers, so the POST is
  never sent (the page sees a failed fetch, and the command does not run).
- The certificate is trusted the way scripts/trust-cert makes it trusted (its authority in the
  NSS store Chromium reads, and in the Firefox profile that existed when it ran, in Firefox ESR's
  own profile folder ~/.config/mozilla/firefox); no certificate error is ignored.
- The page here comes from 127.0.0.1, a local address like the service's, so no permission is
  asked. A page served from a public address needs the user's local-network-access permission
  before the browser lets it reach localhost.

Usage: browser_fetch_test.py DIST_DIR SOURCE_DIR
"""
import http.server
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import zlib

SERVICE = "https://localhost:38951/"
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-default-apps", "--no-default-browser-check",
]


def png_2x2():
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"\x00\xff\x00\x00\x00\xff\x00" + b"\x00\x00\x00\xff\xff\xff\xff"
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 2, 2, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


class PageServer(http.server.ThreadingHTTPServer):
    """Serves the page and its configuration; receives the page's results."""

    def __init__(self, page, config):
        self.page, self.config = page, config
        self.results = None
        self.got_results = threading.Event()
        super().__init__(("127.0.0.1", 0), PageHandler)


class PageHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/page.html":
            self.reply(self.server.page, "text/html; charset=utf-8")
        elif self.path == "/config.json":
            self.reply(json.dumps(self.server.config).encode(), "application/json")
        else:
            self.send_error(404)

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if self.path == "/result":
            self.server.results = json.loads(body)
            self.server.got_results.set()
        self.reply(b"", "text/plain")

    def reply(self, body, content_type):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def start_service(dist, folder, env):
    os.makedirs(folder)
    for name in os.listdir(dist):
        if name == "orvohttps" or name.endswith(".so"):
            shutil.copy2(os.path.join(dist, name), folder)
    # The page's origin is allowed by the deployer's list: no question on the test's display.
    with open(os.path.join(folder, "allowed-origins"), "w") as origins:
        origins.write("*\n")
    return folder


def wait_for_service(ca):
    for _ in range(150):
        if subprocess.run(["curl", "-s", "--cacert", ca, SERVICE + "hi"],
                          stdout=subprocess.DEVNULL).returncode == 0:
            return True
        time.sleep(0.1)
    return False


def run_browser(argv, env, pages, log_path):
    """Runs the browser (a process group of its own) until the page reports; its results."""
    pages.results = None
    pages.got_results.clear()
    with open(log_path, "wb") as log:
        browser = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=log,
                                   start_new_session=True)
    try:
        if pages.got_results.wait(90):
            return pages.results
        with open(log_path, "rb") as f:
            sys.stdout.write(f.read()[-3000:].decode("utf-8", "replace"))
        return None
    finally:
        # SIGTERM first: Firefox then leaves its profile unlocked.
        os.killpg(browser.pid, signal.SIGTERM)
        try:
            browser.wait(15)
        except subprocess.TimeoutExpired:
            os.killpg(browser.pid, signal.SIGKILL)
            browser.wait()


def curl_answer(ca, envelope):
    out = subprocess.run(["curl", "-s", "--cacert", ca, "-H", "Content-Type: text/plain",
                          "--data-binary", json.dumps(envelope), SERVICE],
                         stdout=subprocess.PIPE, check=True)
    return out.stdout.decode("utf-8")


def main():
    dist, source = sys.argv[1], sys.argv[2]
    failures = []

    def check(condition, message):
        if not condition:
            failures.append(message)

    work = tempfile.mkdtemp(prefix="orvo-browser-")
    service = None
    try:
        home, files, temp = (os.path.join(work, n) for n in ("home", "files", "tmp"))
        for folder in (home, files, temp):
            os.makedirs(folder)
        env = dict(os.environ, HOME=home, TMPDIR=temp, CAROOT=os.path.join(work, "ca"),
                   TRUST_STORES="nss")
        folder = start_service(dist, os.path.join(work, "service"), env)
        # A Firefox profile made before trust-cert runs, where Firefox ESR makes new ones.
        subprocess.run(["firefox-esr", "--headless", "-CreateProfile", "before"], env=env,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        subprocess.run([os.path.join(source, "scripts", "trust-cert"), folder], env=env,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ca = os.path.join(folder, "localhost.pem")
        log = open(os.path.join(work, "service.log"), "wb")
        service = subprocess.Popen([os.path.join(folder, "orvohttps")], env=env, stdout=log)
        if not wait_for_service(ca):
            print("FAILED: the service did not start")
            return 1

        image = os.path.join(files, "picture.png")
        with open(image, "wb") as f:
            f.write(png_2x2())
        from_page = os.path.join(files, "from-page.html")
        html = "<p>\ud55c\uad6d\uc5b4 from a page</p>"
        envelopes = {
            "version": {"cmd": "cfp-1000", "session": "b1", "pdu": {}},
            "files": {"cmd": "cfp-0040", "session": "b2", "pdu": {"files": [{"filepath": image}]}},
            "save": {"cmd": "cfp-0060", "session": "b3",
                     "pdu": {"html": html, "filefullpath": from_page}},
        }
        json_target = os.path.join(files, "never.html")
        config = {"envelopes": envelopes,
                  "json_envelope": {"cmd": "cfp-0060", "session": "b4",
                                    "pdu": {"html": html, "filefullpath": json_target}}}
        with open(os.path.join(source, "tests", "browser", "page.html"), "rb") as f:
            pages = PageServer(f.read(), config)
        threading.Thread(target=pages.serve_forever, daemon=True).start()
        url = "http://127.0.0.1:%d/page.html" % pages.server_address[1]

        browsers = {
            "chromium": ["chromium"] + CHROMIUM_FLAGS +
                        ["--user-data-dir=" + os.path.join(work, "profile"), url],
            "firefox": ["firefox-esr", "--headless", "-P", "before", url],
        }
        by_browser = {}
        for browser, argv in browsers.items():
            if os.path.exists(from_page):
                os.remove(from_page)
            results = run_browser(argv, env, pages, os.path.join(work, browser + ".log"))
            if results is None:
                failures.append("%s: the page sent no results" % browser)
                continue
            by_browser[browser] = results
            for name in ("version", "files", "save"):
                got = results.get(name, {})
                check("answer" in got,
                      "%s: %s: the page's fetch failed: %s" % (browser, name, got.get("error")))
            saved = open(from_page, encoding="utf-8").read() if os.path.exists(from_page) else None
            check(saved == html, "%s: save: the page's file holds %r" % (browser, saved))
            check("base64string" in results.get("files", {}).get("answer", ""),
                  "%s: files: the image came back without its content" % browser)
            check("error" in results.get("as_json", {}),
                  "%s: application/json: the page was answered: %r" %
                  (browser, results.get("as_json")))
            check(not os.path.exists(json_target), "%s: application/json: the command ran" % browser)

        # The same envelopes from curl (the save to its own file) give the same answers.
        envelopes["save"]["pdu"]["filefullpath"] = os.path.join(files, "from-curl.html")
        for name, envelope in envelopes.items():
            curl = curl_answer(ca, envelope)
            for browser, results in by_browser.items():
                page_answer = results.get(name, {}).get("answer")
                check(page_answer == curl,
                      "%s: %s: page read %r, curl %r" % (browser, name, page_answer, curl))
    finally:
        if service is not None:
            try:
                ctx_ca = os.path.join(work, "service", "localhost.pem")
                subprocess.run(["curl", "-s", "--cacert", ctx_ca, SERVICE + "stop"], timeout=10,
                               stdout=subprocess.DEVNULL)
                service.wait(10)
            except Exception:
                service.kill()
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAILED: " + failure)
    if failures:
        return 1
    print("in Chromium and Firefox the page's answers equal curl's; application/json is blocked "
          "before the POST")
    return 0


if __name__ == "__main__":
    sys.exit(main())
