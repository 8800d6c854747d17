#!/usr/bin/env python3
"""The self-service page in a real, headless browser.

Runs inside a private network namespace (run-page-test.sh makes it): brings its loopback link
up, starts the test server program (the credential service on ports 51001 and 51443 over a
fixed directory, serving the page's folder) and a small stand-in service that answers "/Query"
with broken or unexpected answers, then drives chromium through chromedriver. The page is
tested over https: the browser trusts exactly the certificate the server made (by the hash of
its public key) and curl checks it against that certificate.

Usage: page_test.py SERVER_PROGRAM WWW_DIR SCREENSHOT_DIR
       page_test.py --service URL USER PASSWORD SCREENSHOT_DIR

The second form starts nothing: run in a namespace from which URL reaches a running program,
it checks that the page that program serves lists for USER what "/Query" lists.

Every state the tests reach is also checked with axe-core (tests/www/node_modules, installed by
scripts/install-deps.sh): its default rules, and besides every rule of WCAG 2.0 to 2.2 A and AA
and of its best practices that is not deprecated (which adds the size of targets), must report
no violation.
"""
import base64
import hashlib
import json
import os
import pathlib
import shutil
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import xml.etree.ElementTree as ElementTree
from xml.sax.saxutils import quoteattr

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

# The source tree stays clean: no bytecode cache beside the scripts.
sys.dont_write_bytecode = True
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import importlib  # noqa: E402

page_hashes = importlib.import_module("update-page-hashes")

SERVICE = "https://127.0.0.1:51443"
PLAIN_SERVICE = "http://127.0.0.1:51001"
STAND_IN_PORT = 51081
STAND_IN = "http://127.0.0.1:%d" % STAND_IN_PORT
WAIT_S = 10
START_WAIT_S = 20
COLUMNS = ["IPAddr", "SystemName", "Product", "Type", "MAC", "LoginUserName"]
USER = ("dana", "Blue-Harbor-42")
ADMIN = ("admin", "9983")
NO_ARRAYS = ("erik", "no-arrays")
UTF8_USER = ("j\u00f6rg", "p\u00e4ss:w\u00f6rd")
HOSTILE_NAME = "<img src=x onerror=\"document.title='injected'\">"
DESKTOP = (1280, 800)
PHONE = (390, 844)
# The layouts an accessibility review looks at: (name, width, height, phone). 200 % zoom of a
# 1,440 px window is emulated by a window of half its size, which gives the same CSS pixels.
LAYOUTS = [("wide", 1440, 900, False), ("zoom-200", 720, 450, False),
           ("phone", PHONE[0], PHONE[1], True), ("narrowest", 320, 640, True)]
A11Y_TAGS = ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa", "wcag22aa", "best-practice"]
# The widths a long list is looked at, down to the narrowest phone.
WIDTHS = [1920, 1280, 1024, 800, 390, 320]
LONG_LIST = 200
# A second address of this namespace's loopback link: failures from it lock out only it.
LOCKED_OUT_ADDRESS = "10.251.0.1"
# Waits shortened for the tests; the page takes only values below its own.
SHORT_TIMINGS = {"revealMs": 1500, "idleMs": 2500, "idleWarningMs": 1500,
                 "serviceCheckMs": 300, "serviceCheckTimeoutMs": 1000}
AXE = pathlib.Path(__file__).resolve().parent / "node_modules" / "axe-core" / "axe.min.js"
RLO_NAME = "evil\u202egnp.exe"
# A lockout short enough to watch to its end.
SHORT_WAIT_S = 5

running_user = None
certificate = None  # the test server's tls.crt: what curl and the browser trust
if sys.argv[1:2] == ["--service"]:
    SERVICE, running_user, screenshot_dir = sys.argv[2], tuple(sys.argv[3:5]), sys.argv[5]
else:
    server_program, www_dir, screenshot_dir = sys.argv[1:4]


def query_with_curl(user, password):
    """The service's own answer to "/Query", as the page must show it."""
    trust = ["--cacert", certificate] if certificate else []
    out = subprocess.run(
        ["curl", "-s", "--noproxy", "*", "--max-time", "10", "-u", "%s:%s" % (user, password),
         "-X", "POST", "--data-binary", "x\n", *trust, SERVICE + "/Query"],
        check=True, capture_output=True).stdout
    root = ElementTree.fromstring(out)
    assert root.tag == "StorageServers", out
    return root


def der_header(data, at):
    """The start of the body and the end of the DER element at offset at."""
    length, body = data[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        length, body = int.from_bytes(data[body:body + count], "big"), body + count
    return body, body + length


def spki_hash(pem_file):
    """Base64 of the SHA-256 of the certificate's SubjectPublicKeyInfo, as chromium's
    --ignore-certificate-errors-spki-list takes it."""
    der = ssl.PEM_cert_to_DER_cert(pathlib.Path(pem_file).read_text())
    at = der_header(der, der_header(der, 0)[0])[0]  # into the signed part
    if der[at] == 0xA0:  # the version
        at = der_header(der, at)[1]
    for _ in range(5):  # serial number, algorithm, issuer, validity, subject
        at = der_header(der, at)[1]
    return base64.b64encode(hashlib.sha256(der[at:der_header(der, at)[1]]).digest()).decode()


def wait_for_port(port, process=None):
    deadline = time.monotonic() + START_WAIT_S
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            raise RuntimeError("the test server ended with %s" % process.returncode)
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d" % port)


class StandIn(socketserver.ThreadingTCPServer):
    """Serves the page like the service does and answers POST with whatever a test set."""
    allow_reuse_address = True
    daemon_threads = True
    answer = b""  # the raw bytes of the next answers to POST; None: close without one
    page = b""
    hold = None  # an Event: POST answers wait for it to be set (bounded by WAIT_S)
    gone = False  # True: every request is closed unanswered, as by a stopped service
    posts = 0  # how many POST requests came


class StandInHandler(socketserver.StreamRequestHandler):
    def handle(self):
        request_line = self.rfile.readline(2000)
        length = 0
        while True:
            line = self.rfile.readline(2000)
            if line in (b"\r\n", b"\n", b""):
                break
            name, _, value = line.decode("latin-1").partition(":")
            if name.strip().lower() == "content-length":
                length = int(value.strip())
        if length:
            self.rfile.read(length)
        if self.server.gone:
            return
        if request_line.startswith(b"GET "):
            self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                             + str(len(self.server.page)).encode() + b"\r\n\r\n" +
                             self.server.page)
        else:
            self.server.posts += 1
            if self.server.hold is not None:
                self.server.hold.wait(WAIT_S)
            if self.server.answer is not None:
                self.wfile.write(self.server.answer)


def xml_answer(body):
    return b"HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + body


def long_list_answer(names=()):
    """A list of LONG_LIST arrays with long names, the first ones named by names."""
    servers = []
    for i in range(LONG_LIST):
        name = names[i] if i < len(names) else "storage-array-%03d.datacenter-north.example" % i
        attributes = {"IPAddr": "10.%d.%d.%d" % (i % 3, i // 100, LONG_LIST - i),
                      "SystemName": name, "Product": "Vault 4200 Enterprise",
                      "Type": "SAN", "MAC": "00:1B:2C:3D:%02X:%02X" % (i // 256, i % 256),
                      "LoginUserName": "administrator", "LoginPasswd": "pw-%03d" % i}
        servers.append("<StorageServer " + " ".join(
            "%s=%s" % (k, quoteattr(v)) for k, v in attributes.items()) + "/>")
    return xml_answer(('<StorageServers AdminGroup="No">' + "".join(servers) +
                       "</StorageServers>").encode())


class Browser:
    """One headless chromium with an empty profile of its own."""

    def __init__(self, trusted_key=None):
        """trusted_key: the SPKI hash of a certificate to trust, whatever signed it."""
        self.profile = tempfile.mkdtemp(prefix="orvane-page-profile-")
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium")
        for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--no-proxy-server",
                     "--user-data-dir=" + self.profile,
                     "--window-size=%d,%d" % DESKTOP, "--lang=en-US",
                     "--force-color-profile=srgb", "--hide-scrollbars"]:
            options.add_argument(flag)
        if trusted_key:
            options.add_argument("--ignore-certificate-errors-spki-list=" + trusted_key)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")),
                                       options=options)
        self.driver.set_page_load_timeout(WAIT_S)

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)


def setUpModule():
    global server, store, stand_in, browser, certificate
    os.makedirs(screenshot_dir, exist_ok=True)
    if running_user:
        browser = Browser()
        return
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["ip", "addr", "add", LOCKED_OUT_ADDRESS + "/32", "dev", "lo"], check=True)
    store = tempfile.mkdtemp(prefix="orvane-page-store-")
    # The server runs until its standard input ends.
    server = subprocess.Popen([server_program, www_dir, store], stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL)
    wait_for_port(51001, server)
    wait_for_port(51443, server)
    certificate = os.path.join(store, "tls.crt")
    stand_in = StandIn(("127.0.0.1", STAND_IN_PORT), StandInHandler)
    stand_in.page = (pathlib.Path(www_dir) / "default.htm").read_bytes()
    threading.Thread(target=stand_in.serve_forever, daemon=True).start()
    browser = Browser(spki_hash(certificate))


def tearDownModule():
    browser.close()
    if running_user:
        return
    stand_in.shutdown()
    stand_in.server_close()
    server.stdin.close()
    status = server.wait(timeout=WAIT_S)
    shutil.rmtree(store, ignore_errors=True)
    if status != 0:
        raise RuntimeError("the test server ended with status %d" % status)


class PageCase(unittest.TestCase):
    """Each test starts on a freshly loaded page in the shared browser."""

    base = SERVICE

    def setUp(self):
        self.d = browser.driver
        self.use_viewport(DESKTOP, mobile=False)
        self.d.get(self.base + "/")
        self.d.get_log("browser")  # drop what earlier tests logged

    # The browser styles the error element of an unreadable document inline, which the policy
    # refuses: expected where a test sends such documents.
    ignored_reports = ()

    def tearDown(self):
        errors = [e["message"] for e in self.d.get_log("browser")
                  if ("Content Security Policy" in e["message"] or "Uncaught" in e["message"])
                  and not any(text in e["message"] for text in self.ignored_reports)]
        self.assertEqual(errors, [])
        with self.assertRaises(NoAlertPresentException):
            self.d.switch_to.alert.text

    def by_id(self, element_id):
        return self.d.find_element(By.ID, element_id)

    def wait_until(self, condition, what):
        try:
            return WebDriverWait(self.d, WAIT_S).until(lambda d: condition())
        except TimeoutException:
            self.fail("timed out waiting for " + what)

    def sign_in(self, user, password):
        self.by_id("user").clear()
        self.by_id("user").send_keys(user)
        self.by_id("password").send_keys(password)
        self.by_id("sign-in").click()

    def wait_signed_in(self):
        self.wait_until(lambda: self.by_id("results").is_displayed(), "the arrays")

    def signed_in(self, user, password):
        self.sign_in(user, password)
        self.wait_signed_in()

    def sign_in_to(self, answer, user="dana", wait=True):
        """Signs in to the stand-in, which answers "/Query" with answer."""
        stand_in.answer = answer
        self.sign_in(user, "pw")
        if wait:
            self.wait_signed_in()

    def assert_no_table(self):
        self.assertFalse(self.by_id("results").is_displayed())
        self.assertEqual(self.table_rows(), [])

    def grant_clipboard(self, origin):
        self.d.execute_cdp_cmd("Browser.grantPermissions", {
            "origin": origin, "permissions": ["clipboardReadWrite", "clipboardSanitizedWrite"]})

    def wait_message(self):
        return self.wait_until(lambda: self.by_id("signin-message").text, "a message")

    def table_rows(self):
        """The visible text of every cell of the shown rows, in the order of COLUMNS, then the
        password's cell with its buttons."""
        return self.d.execute_script("""
            const keys = arguments[0];
            const shown = document.querySelectorAll('#arrays-body tr:not([hidden])');
            return [...shown].map((row) => keys.map((k, i) => {
                const cell = row.querySelector('[data-key="' + k + '"]');
                const value = i < keys.length - 1 ? cell.querySelector('.value') : cell;
                return (i < keys.length - 1 ? value : cell.querySelector('.secret-value'))
                    .innerText.trim();
            }));""", COLUMNS + ["LoginPasswd"])

    # Runs axe-core's default rules with every rule of A11Y_TAGS that is not deprecated
    # enabled besides; then answers too whether an element matches the selector arguments[1]
    # (the page's policy admits no script made of text).
    AXE_RUN = """
        const done = arguments[arguments.length - 1];
        const rules = {};
        for (const rule of axe.getRules(arguments[0])) {
            if (!rule.tags.includes('deprecated') && !rule.tags.includes('experimental')) {
                rules[rule.ruleId] = {enabled: true};
            }
        }
        axe.run(document, {resultTypes: ['violations'], rules}).then(
            (r) => done([r.violations.map((v) => v.id + ': ' + v.help + ' ' +
                                          v.nodes.slice(0, 3).map((n) => n.target).join(' ') +
                                          ' (' + v.nodes[0].failureSummary + ')'),
                         !!document.querySelector(arguments[1])]),
            (e) => done([['axe failed: ' + e], null]));"""

    def assert_accessible(self, state, after="#no-such-element"):
        """axe-core finds no violation in the page as it is now; answers whether an element
        matches the selector after once axe is done."""
        if not self.d.execute_script("return !!window.axe"):
            self.d.execute_script(AXE.read_text(encoding="utf-8"))
        violations, then = self.d.execute_async_script(self.AXE_RUN, A11Y_TAGS, after)
        self.assertEqual(violations, [], state)
        return then

    def record_announcements(self):
        """From now on, every text the status region is given is kept in order."""
        self.d.execute_script("""
            window.announced = [];
            new MutationObserver(() => {
                const text = document.getElementById('status').textContent;
                if (text) { window.announced.push(text); }
            }).observe(document.getElementById('status'), {childList: true});""")

    def announcements(self):
        return self.d.execute_script("return window.announced")

    def wait_announced(self, text):
        """Waits for text to be announced; fails when it is announced more than once."""
        self.wait_until(lambda: text in self.announcements(), "the announcement " + text)
        self.assertEqual(self.announcements().count(text), 1, self.announcements())

    def use_short_timings(self, *names, **given):
        """Reloads the page with the SHORT_TIMINGS of names and the given ones; setUp of the
        next test loads it plainly."""
        timings = {name: SHORT_TIMINGS[name] for name in names} | given
        script = self.d.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {
            "source": "window.orvanePageTimings = %s;" % json.dumps(timings)})
        self.addCleanup(self.d.execute_cdp_cmd, "Page.removeScriptToEvaluateOnNewDocument",
                        {"identifier": script["identifier"]})
        self.d.get(self.d.current_url)

    def active_id(self):
        return self.d.switch_to.active_element.get_attribute("id")

    def stored_anything(self):
        return self.d.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const names = window.caches ? caches.keys() : Promise.resolve([]);
            names.then((keys) => done(document.cookie + '|' + localStorage.length + '|' +
                                      sessionStorage.length + '|' + keys.length));""")

    def copy_and_paste(self, row, clipboard, key="LoginPasswd"):
        """Presses Copy in the row's cell of key and answers what the clipboard then holds."""
        copy = self.d.find_elements(By.CSS_SELECTOR, "#arrays-body tr")[row] \
            .find_element(By.CSS_SELECTOR, "[data-key='%s'] .copy-slot button" % key)
        copy.click()
        mark = copy.find_element(By.XPATH, "following-sibling::*[@aria-hidden='true']")
        self.wait_until(mark.is_displayed, "the Copied mark")
        self.assertEqual((copy.text, mark.text), ("Copy", "Copied"))
        return self.d.execute_async_script(
            clipboard + ".readText().then(arguments[0], (e) => arguments[0]('' + e));")

    def screenshot(self, name):
        path = os.path.join(screenshot_dir, name)
        self.assertTrue(self.d.save_screenshot(path), path)

    def use_viewport(self, size, mobile):
        self.d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": size[0], "height": size[1], "deviceScaleFactor": 2 if mobile else 1,
            "mobile": mobile})

    def assert_fits(self, width, what):
        """At width (a phone's, at or below a phone's width) nothing scrolls sideways."""
        self.use_viewport((width, 900), mobile=width <= PHONE[0])
        self.d.execute_script("window.scrollTo(0, 0)")
        self.assertLessEqual(self.d.execute_script(
            "return document.documentElement.scrollWidth"), width, what)

    def screenshot_whole_phone_page(self, name):
        """A phone-wide picture as tall as the page, so that every card is in it."""
        self.use_viewport(PHONE, mobile=True)
        height = self.d.execute_script("return document.documentElement.scrollHeight")
        self.use_viewport((PHONE[0], max(PHONE[1], height)), mobile=True)
        self.screenshot(name)


class ThePage(PageCase):
    def test_policy_admits_exactly_the_inline_style_and_script(self):
        html = (pathlib.Path(www_dir) / "default.htm").read_text(encoding="utf-8")
        self.assertEqual(page_hashes.policy_with_hashes(html), html,
                         "run tests/www/update-page-hashes.py after editing the page")
        self.assertEqual(self.d.execute_script(
            "return getComputedStyle(document.querySelector('.topbar')).borderBottomStyle"),
            "solid")
        # Over https: no notice.
        self.assertEqual(self.d.execute_script("return location.protocol"), "https:")
        self.assertFalse(self.by_id("plain-notice").is_displayed())
        self.assert_accessible("sign-in")

    def test_plain_http_shows_the_https_address(self):
        self.d.get(PLAIN_SERVICE + "/")
        notice = self.by_id("plain-notice")
        self.assertEqual(self.by_id("plain-notice-link").text,
                         "This connection is not encrypted: anyone on the network could read "
                         "your password. Use https://127.0.0.1:51443/ instead.")
        for words in ["certificate not trusted", "That is expected: OrvaneSrv made its own",
                      "compare its SHA-256 fingerprint with the one your operator gave you"]:
            self.assertIn(words, notice.text)
        self.assertEqual(notice.find_element(By.TAG_NAME, "a").get_attribute("href"),
                         SERVICE + "/")
        self.screenshot("self-service-plain-http.png")
        self.assert_accessible("plain http")

    def test_user_sees_exactly_what_query_lists_with_passwords_hidden(self):
        expected = query_with_curl(*USER)
        self.assertEqual(expected.get("AdminGroup"), "No")
        # Listed by system name, whatever order the service sent.
        servers = sorted(expected, key=lambda s: s.get("SystemName"))
        self.assertEqual(len(servers), 2)
        self.assertNotEqual(servers, list(expected))
        self.signed_in(*USER)
        rows = self.table_rows()
        self.assertEqual([r[:6] for r in rows], [[s.get(c) for c in COLUMNS] for s in servers])
        self.assertEqual(self.d.find_element(By.CSS_SELECTOR, "th[aria-sort]").text,
                         "System name")
        self.assertNotIn("verified", self.d.find_element(By.TAG_NAME, "body").text)
        # No password is in the page, not even hidden, until it is shown.
        source = self.d.page_source
        for s in servers:
            self.assertNotIn(s.get("LoginPasswd"), source)
        self.assertTrue(all("\u2022" in r[6] for r in rows))
        self.assertFalse(self.by_id("admin-badge").is_displayed())
        self.assertEqual(self.by_id("session-name").text, USER[0])
        self.assertEqual(self.by_id("results-count").text, "2 arrays")
        self.assertEqual(self.by_id("password").get_attribute("value"), "")
        self.assertEqual(self.stored_anything(), "|0|0|0")

        show = self.d.find_elements(By.CSS_SELECTOR, "#arrays-body tr")[1] \
            .find_element(By.XPATH, ".//button[text()='Show']")
        show.click()
        self.assertEqual(show.get_attribute("aria-pressed"), "true")
        secret = self.table_rows()[1][6]
        # This password holds every character that XML escapes.
        self.assertTrue(secret.startswith(servers[1].get("LoginPasswd")), secret)
        self.assertNotIn(servers[0].get("LoginPasswd"), self.d.page_source)
        self.screenshot("self-service-desktop.png")
        self.assert_accessible("a password shown")
        self.screenshot_whole_phone_page("self-service-phone.png")
        self.assertEqual(self.d.execute_script(
            "return getComputedStyle(document.querySelector('#arrays-body tr')).display"),
            "block")
        self.assertLessEqual(self.d.execute_script(
            "return document.documentElement.scrollWidth"), PHONE[0])

        show.click()
        self.assertNotIn(servers[1].get("LoginPasswd"), self.d.page_source)

    def test_copy_puts_the_password_on_the_clipboard(self):
        self.grant_clipboard(SERVICE)
        expected = query_with_curl(*USER)[1].get("LoginPasswd")
        self.signed_in(*USER)
        self.record_announcements()
        self.assertEqual(self.copy_and_paste(0, "navigator.clipboard"), expected)
        self.screenshot("self-service-copied.png")
        self.wait_announced("Copied the administrator password of files-lab-02.")
        # Copying does not show it.
        self.assertNotIn(expected, self.d.page_source)
        self.assertIn("\u2022", self.table_rows()[0][6])

        # A page from another computer's address has no Clipboard API: the selection copy
        # takes over and gives the focus back to the button.
        self.d.execute_script("window.keptClipboard = navigator.clipboard;"
                              "Object.defineProperty(navigator, 'clipboard', {value: undefined});")
        first = query_with_curl(*USER)[0].get("LoginPasswd")
        self.assertEqual(self.copy_and_paste(1, "keptClipboard"), first)
        self.assertEqual(self.d.switch_to.active_element.accessible_name,
                         "Copy administrator password of vault-east-01")
        self.assertEqual(self.d.find_elements(By.TAG_NAME, "textarea"), [])

    def test_sign_out_forgets_everything(self):
        self.signed_in(*USER)
        self.by_id("sign-out").click()
        self.assert_no_table()
        self.assertEqual(self.by_id("user").get_attribute("value"), "")
        self.assertEqual(self.by_id("password").get_attribute("value"), "")
        self.assertFalse(self.by_id("session").is_displayed())
        self.assertEqual(self.active_id(), "user")
        self.assertNotIn("00:1B:2C:3D:4E:01", self.d.page_source)
        self.assertEqual(self.stored_anything(), "|0|0|0")

    def test_administrator_gets_the_badge_and_markup_stays_text(self):
        expected = query_with_curl(*ADMIN)
        self.assertEqual(expected.get("AdminGroup"), "Yes")
        self.signed_in(*ADMIN)
        self.assertTrue(self.by_id("admin-badge").is_displayed())
        self.assertEqual(self.by_id("admin-badge").text.lower(), "administrator")
        rows = self.table_rows()
        by_name = sorted(expected, key=lambda s: s.get("SystemName"))
        self.assertEqual([r[:6] for r in rows], [[s.get(c) for c in COLUMNS] for s in by_name])
        self.assertIn(HOSTILE_NAME, [r[1] for r in rows])
        self.assert_accessible("administrator's list")
        self.assertEqual(self.d.find_elements(By.CSS_SELECTOR, "#arrays-body img"), [])
        self.assertNotEqual(self.d.title, "injected")

    def test_wrong_password_gives_the_message_and_no_table(self):
        self.sign_in(USER[0], "not-" + USER[1])
        message = self.wait_message()
        self.assertIn("user name or password is wrong", message)
        self.assertNotIn("too many", message)
        self.assert_no_table()
        self.assertEqual(self.by_id("password").get_attribute("value"), "")
        self.assertEqual(self.active_id(), "password")
        self.assertEqual(self.by_id("sign-in").get_attribute("disabled"), None)
        self.screenshot("self-service-refused.png")
        self.assert_accessible("refused")
        # The next try with the right password succeeds and clears the message.
        self.by_id("password").send_keys(USER[1], Keys.ENTER)
        self.wait_signed_in()
        self.assertEqual(len(self.table_rows()), 2)

    def test_keyboard_alone_signs_in_and_shows_a_password(self):
        self.assertEqual(self.active_id(), "user")
        keys = ActionChains(self.d)
        keys.send_keys(USER[0], Keys.TAB).perform()
        self.assertEqual(self.active_id(), "password")
        ActionChains(self.d).send_keys(USER[1], Keys.TAB).perform()
        self.assertEqual(self.active_id(), "sign-in")
        ActionChains(self.d).send_keys(Keys.ENTER).perform()
        self.wait_signed_in()
        self.assertEqual(self.active_id(), "results-title")
        # The filter, the skip link, the sortable headers and the first user name's Copy come
        # before the first Show.
        tabs = 0
        while self.d.switch_to.active_element.text != "Show" and tabs < 12:
            ActionChains(self.d).send_keys(Keys.TAB).perform()
            tabs += 1
        self.assertEqual(tabs, 10)
        ActionChains(self.d).send_keys(Keys.SPACE).perform()
        self.assertEqual(self.table_rows()[0][6][:len("c0rrect")], "c0rrect")
        # Focus is visible where the keyboard is.
        outline = self.d.execute_script(
            "return getComputedStyle(document.activeElement).outlineStyle")
        self.assertEqual(outline, "solid")

    def test_every_layout_and_colour_scheme_passes_axe(self):
        self.grant_clipboard(SERVICE)
        self.signed_in(*USER)
        self.addCleanup(self.d.execute_cdp_cmd, "Emulation.setEmulatedMedia", {"features": []})
        mark_still_shown = ".copied-mark:not([hidden])"
        for name, width, height, phone in LAYOUTS:
            for scheme in ["light", "dark"]:
                state = "%s, %s" % (name, scheme)
                with self.subTest(state):
                    self.use_viewport((width, height), mobile=phone)
                    self.d.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": [
                        {"name": "prefers-color-scheme", "value": scheme}]})
                    # The buttons' colours fade into the other scheme's: checked once there.
                    self.wait_until(lambda: self.d.execute_script(
                        "return document.getAnimations().length === 0"), "the colours")
                    self.assert_accessible(state)
                    # The Copied moment lasts 2 s: axe must be done within it.
                    self.copy_and_paste(1, "navigator.clipboard")
                    self.assertTrue(self.assert_accessible(state + ", copied", mark_still_shown),
                                    "the Copied mark went before axe was done")
                    self.by_id("filter").send_keys("no such array")
                    self.wait_until(lambda: self.by_id("no-match").is_displayed(), "no match")
                    self.assert_accessible(state + ", nothing matches")
                    self.by_id("filter").send_keys(Keys.CONTROL, "a", Keys.BACKSPACE)
                    self.wait_until(lambda: self.by_id("results-count").text == "2 arrays",
                                    "all rows")

    def tab_walk(self):
        """Tabs once round the page from where the focus is; answers, for every stop, what it
        is, whether it is seen (not empty, not clipped, not covered) and its focus style, then
        the style of each without the focus."""
        self.d.execute_script("window.walked = [];")
        stops = []
        for _ in range(60):
            ActionChains(self.d).send_keys(Keys.TAB).perform()
            stop = self.d.execute_script("""
                const e = document.activeElement;
                if (e === document.body || window.walked.includes(e)) {
                    return e === document.body ? 'left' : null;
                }
                window.walked.push(e);
                const r = e.getBoundingClientRect();
                const hit = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);
                const s = getComputedStyle(e);
                return [e.id || e.textContent.trim() || e.localName,
                        r.width >= 1 && r.height >= 1 && hit !== null && e.contains(hit),
                        [s.outlineStyle, s.outlineWidth, s.outlineColor, s.boxShadow]];
                """)
            if stop is None:
                break
            if stop != "left":
                stops.append(stop)
        unfocused = self.d.execute_script("""
            document.activeElement.blur();
            return window.walked.map((e) => {
                const s = getComputedStyle(e);
                return [s.outlineStyle, s.outlineWidth, s.outlineColor, s.boxShadow];
            });""")
        return [stop + [plain] for stop, plain in zip(stops, unfocused)]

    def test_the_keyboard_reaches_only_what_is_seen_and_shows_where_it_is(self):
        self.signed_in(*USER)
        stops_of = {"wide": ["filter", "skip-table"] + ["button"] * 6, "phone":
                    ["filter", "sort-key", "sort-order", "skip-table"]}
        for name, width, height, phone in [LAYOUTS[0], LAYOUTS[2]]:
            with self.subTest(layout=name):
                self.use_viewport((width, height), mobile=phone)
                self.by_id("results-title").click()
                walk = self.tab_walk()
                ids = [s[0] if s[0] in stops_of[name] else "button" for s in walk]
                self.assertEqual(ids[:len(stops_of[name]) + 6],
                                 stops_of[name] + ["button"] * 6, walk)
                self.assertEqual(len(walk), len(stops_of[name]) + 8, walk)
                for what, seen, focused, plain in walk:
                    self.assertTrue(seen, "%s cannot be seen at %s" % (what, name))
                    outline = focused[0] != "none" and float(focused[1][:-2]) >= 2
                    self.assertTrue(focused != plain and (outline or focused[3] != "none"),
                                    "%s at %s shows no focus: %s" % (what, name, focused))

    def test_idle_warning_offers_to_stay_signed_in(self):
        self.use_short_timings(idleMs=4000, idleWarningMs=3000)
        self.signed_in(*USER)
        self.record_announcements()
        self.by_id("filter").click()
        dialog = self.by_id("idle-dialog")
        self.wait_until(dialog.is_displayed, "the warning")
        self.assertEqual(self.active_id(), "stay-signed-in")
        self.assertEqual([dialog.get_attribute(a) for a in ["role", "aria-modal"]],
                         ["alertdialog", "true"])
        self.assertEqual(dialog.accessible_name, "You will be signed out soon")
        self.assertIn("In 2 minutes it signs you out",
                      self.by_id(dialog.get_attribute("aria-describedby")).text)
        # The keyboard goes round the warning's buttons only; each key counts as input.
        for keys, expected in [([Keys.TAB], "idle-sign-out"), ([Keys.TAB], "stay-signed-in"),
                               ([Keys.SHIFT, Keys.TAB], "idle-sign-out"),
                               ([Keys.SHIFT, Keys.TAB], "stay-signed-in")]:
            ActionChains(self.d).send_keys(*keys).perform()
            self.assertEqual(self.active_id(), expected)
        self.addCleanup(self.d.execute_cdp_cmd, "Emulation.setEmulatedMedia", {"features": []})
        for name, size, phone, scheme in [("desktop", DESKTOP, False, "light"),
                                          ("phone", PHONE, True, "light"),
                                          ("dark", DESKTOP, False, "dark")]:
            ActionChains(self.d).send_keys(Keys.SHIFT).perform()
            self.use_viewport(size, mobile=phone)
            self.d.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": [
                {"name": "prefers-color-scheme", "value": scheme}]})
            self.wait_until(lambda: self.d.execute_script(
                "return document.getAnimations().length === 0"), "the colours")
            self.screenshot("self-service-stay-signed-in-%s.png" % name)
            self.assert_accessible("the idle warning, " + name)
        # Input over the warning for longer than the idle time keeps the session.
        for _ in range(10):
            ActionChains(self.d).move_to_element_with_offset(dialog, 5, 5) \
                .move_by_offset(3, 3).perform()
            time.sleep(0.5)
        self.assertTrue(dialog.is_displayed())
        ActionChains(self.d).send_keys(Keys.ENTER).perform()
        self.assertFalse(dialog.is_displayed())
        self.assertEqual(self.active_id(), "filter")
        # Escape answers it too; ignored, it ends with the sign-out.
        self.wait_until(dialog.is_displayed, "the warning again")
        ActionChains(self.d).send_keys(Keys.ESCAPE).perform()
        self.assertEqual(self.active_id(), "filter")
        self.wait_until(lambda: self.by_id("signin").is_displayed(), "the idle sign-out")
        self.assertFalse(dialog.is_displayed())
        # The warning and the sign-out are each said once, by the dialog and by the alert.
        self.assertEqual([a for a in self.announcements() if not a.startswith("Signed in")], [])

    def test_controls_have_accessible_names(self):
        self.signed_in(*USER)
        nodes = [n for n in self.d.execute_cdp_cmd("Accessibility.getFullAXTree", {})["nodes"]
                 if not n.get("ignored")]
        names = {}
        for n in nodes:
            names.setdefault(n["role"]["value"], []).append(n.get("name", {}).get("value", ""))
        sorting = ["System name", "Administrator user", "IP address", "MAC address", "Product",
                   "Type"]
        # The tree lists the rows' buttons in no fixed order.
        self.assertEqual(names["button"][:7], ["Sign out"] + sorting)
        self.assertEqual(sorted(names["button"][7:]), sorted(
            what % name for name in ["files-lab-02", "vault-east-01"]
            for what in ["Copy administrator user name of %s",
                         "Show administrator password of %s",
                         "Copy administrator password of %s"]))
        self.assertEqual(names["rowheader"], ["files-lab-02", "vault-east-01"])
        self.assertEqual(len(names["columnheader"]), 7)
        self.assertEqual(len(names["cell"]), 12)
        self.assertIn("status", names)
        self.by_id("sign-out").click()
        nodes = self.d.execute_cdp_cmd("Accessibility.getFullAXTree", {})["nodes"]
        fields = [n.get("name", {}).get("value") for n in nodes
                  if not n.get("ignored") and n["role"]["value"] == "textbox"]
        self.assertEqual(fields, ["User name", "Password"])
        self.assert_accessible("signed out")

    def test_no_arrays_says_so(self):
        self.signed_in(*NO_ARRAYS)
        self.assertTrue(self.by_id("results-empty").is_displayed())
        self.assertIn("No storage arrays", self.by_id("results-empty").text)
        self.assertIn("administrator user name and password the operator has checked",
                      self.by_id("results-empty").text)
        self.assertFalse(self.by_id("results-card").is_displayed())
        self.assertEqual(self.by_id("results-count").text, "0 arrays")
        self.assert_accessible("no arrays")

    def test_credentials_travel_as_utf8(self):
        self.sign_in(*UTF8_USER)
        self.wait_signed_in()
        self.assertEqual(len(self.table_rows()), 2)

    def test_repeated_failures_lock_this_computer_out_and_the_page_says_until_when(self):
        locked = "http://%s:51001" % LOCKED_OUT_ADDRESS
        for i in range(10):
            subprocess.run(["curl", "-s", "--noproxy", "*", "--max-time", "10", "-u",
                            "%s:guess%d" % (USER[0], i), "-X", "POST", "--data-binary", "x\n",
                            "-o", "/dev/null", locked + "/Query"], check=True)
        self.d.get(locked + "/")
        self.sign_in(*USER)
        message = self.wait_until(lambda: self.by_id("signin-wait").text, "the wait")
        self.assertIn("too many failed attempts came from this computer", message)
        self.assertRegex(message, r"Try again after \d+:\d\d:\d\d.* \(in 60 seconds\)\. Each "
                         r"try before then, from this computer, starts the wait again\.")
        self.assertRegex(self.by_id("sign-in").text, r"^Sign in \((1:00|0:59)\)$")
        self.assertFalse(self.by_id("sign-in").is_enabled())
        self.assertEqual(self.active_id(), "password")
        self.screenshot("self-service-locked-out.png")
        self.assert_accessible("locked out")
        # Another computer still signs in.
        self.d.get(self.base + "/")
        self.signed_in(*USER)

    def test_a_user_name_with_a_colon_or_none_is_not_sent(self):
        for user, text in [("", "Enter your user name"), ("a:b", "cannot contain a colon")]:
            self.sign_in(user, "x")
            self.assertIn(text, self.wait_message())
            self.assertEqual(self.active_id(), "user")
        self.assert_accessible("a field at fault")


class BrokenAnswers(PageCase):
    """The page read from a stand-in service that answers "/Query" badly."""

    base = STAND_IN
    ignored_reports = ("Applying inline style",)

    def test_each_bad_answer_gets_its_own_message_and_no_table(self):
        cases = [
            (None, "could not be reached"),
            (b"HTTP/1.0 500 Internal Server Error\r\n\r\n", "HTTP status 500"),
            (b"HTTP/1.0 404 Object Not Found\r\nContent-Length: 0\r\n\r\n", "HTTP status 404"),
            (b"garbage without a status line", "could not be reached"),
            (xml_answer(b"<html><body>not a list</body></html>"), "cannot read"),
            (xml_answer(b'<StorageServers AdminGroup="Yes"><StorageServer Product="'),
             "cannot read"),
            (xml_answer(b""), "cannot read"),
        ]
        for answer, text in cases:
            with self.subTest(answer=answer):
                self.d.get(self.base + "/")
                self.sign_in_to(answer, wait=False)
                self.assertIn(text, self.wait_message())
                self.assert_no_table()

    def test_a_lockout_counts_down_on_the_button_and_is_announced_once(self):
        self.record_announcements()
        sign_in = self.by_id("sign-in")
        self.sign_in_to(b"HTTP/1.0 401 Unauthorized\r\nRetry-After: %d\r\n"
                        b"Content-Length: 0\r\n\r\n" % SHORT_WAIT_S, wait=False)
        first = self.wait_until(lambda: "(" in sign_in.text and sign_in.text, "the countdown")
        self.assertRegex(first, r"^Sign in \(0:0[1-%d]\)$" % SHORT_WAIT_S)
        self.assertFalse(sign_in.is_enabled())
        self.screenshot("self-service-lockout-countdown.png")
        self.assert_accessible("locked out, counting down")
        # The password field's Enter sends nothing while the button waits.
        posts = stand_in.posts
        self.by_id("password").send_keys("pw", Keys.ENTER)
        self.wait_until(lambda: sign_in.text not in (first, "Sign in"), "the count to drop")
        self.wait_until(sign_in.is_enabled, "the end of the wait")
        self.assertEqual(sign_in.text, "Sign in")
        self.assertEqual(stand_in.posts, posts)
        self.assertEqual(self.by_id("signin-wait").text,
                         "The wait is over: you may sign in again.")
        # The end is announced a moment after it is shown.
        self.wait_announced("The wait is over: you may sign in again.")
        announced = self.announcements()
        self.assertEqual(len(announced), 2, announced)
        self.assertIn("starts the wait again", announced[0])
        self.sign_in_to(long_list_answer())

    def test_odd_but_readable_documents(self):
        # Unknown elements are passed over, missing attributes show as empty cells, and a
        # later answer replaces an earlier one completely.
        self.sign_in_to(xml_answer(
            b'<StorageServers AdminGroup="yes"><Other/><StorageServer IPAddr="10.0.0.9" '
            b'SystemName="a&amp;b &lt;c&gt;"/></StorageServers>'))
        self.assertEqual([r[:6] for r in self.table_rows()],
                         [["10.0.0.9", "a&b <c>", "", "", "", ""]])
        # Only the exact "Yes" makes an administrator.
        self.assertFalse(self.by_id("admin-badge").is_displayed())
        self.by_id("sign-out").click()
        self.sign_in_to(xml_answer(b'<StorageServers AdminGroup="Yes"/>'))
        self.assertEqual(self.table_rows(), [])
        self.assertTrue(self.by_id("admin-badge").is_displayed())
        # An entity that names a file is not loaded.
        self.by_id("sign-out").click()
        self.sign_in_to(xml_answer(
            b'<!DOCTYPE x [<!ENTITY e SYSTEM "file:///etc/hostname">]>'
            b'<StorageServers AdminGroup="No"><StorageServer SystemName="&e;"/>'
            b'</StorageServers>'))
        self.assertEqual(self.table_rows()[0][1], "")
        # Without a name or an address, the row's buttons still say which array they act on.
        self.assertEqual(self.d.find_element(By.XPATH, "//button[text()='Show']").accessible_name,
                         "Show administrator password of this array")
        # After a restart, an empty list while arrays are verified again says so, not the groups.
        self.by_id("sign-out").click()
        self.sign_in_to(b"HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nX-Orvane-Verifying: 3\r\n"
                        b'\r\n<StorageServers AdminGroup="No"></StorageServers>')
        self.assertIn("has restarted", self.by_id("results-empty").text)
        self.assertFalse(self.by_id("empty-groups").is_displayed())


class LongListsAndHostileNames(PageCase):
    """A list of LONG_LIST arrays, and names with direction marks, from the stand-in."""

    base = STAND_IN

    def setUp(self):
        super().setUp()
        self.addCleanup(self.restore_stand_in)

    @staticmethod
    def restore_stand_in():
        stand_in.gone = False
        if stand_in.hold is not None:
            stand_in.hold.set()
        stand_in.hold = None

    def first_row_controls(self):
        row = self.d.find_element(By.CSS_SELECTOR, "#arrays-body tr:not([hidden])")
        return row.find_elements(By.TAG_NAME, "button")

    def test_every_width_shows_show_and_copy_without_sideways_scrolling(self):
        for width in WIDTHS:
            self.assert_fits(width, "sign-in %d" % width)
        self.use_viewport(DESKTOP, mobile=False)
        self.sign_in_to(long_list_answer())
        self.assertEqual(self.by_id("results-count").text, "%d arrays" % LONG_LIST)
        for width in WIDTHS:
            with self.subTest(width=width):
                self.assert_fits(width, "long list")
                controls = self.first_row_controls()
                self.assertEqual([b.text for b in controls], ["Copy", "Show", "Copy"])
                for button in controls:
                    box = button.rect
                    self.assertTrue(button.is_displayed())
                    self.assertGreaterEqual(box["x"], 0)
                    self.assertLessEqual(box["x"] + box["width"], width)
                self.screenshot("self-service-%d-arrays-%dpx.png" % (LONG_LIST, width))
                if width in (1920, 1024, 390):
                    self.assert_accessible("long list at %d px" % width)
        # The dark colours too.
        self.addCleanup(self.d.execute_cdp_cmd, "Emulation.setEmulatedMedia", {"features": []})
        self.d.execute_cdp_cmd("Emulation.setEmulatedMedia", {
            "features": [{"name": "prefers-color-scheme", "value": "dark"}]})
        self.first_row_controls()[1].click()
        self.screenshot("self-service-dark.png")
        self.assert_accessible("long list, dark, a password shown")

    def test_filter_sort_and_skip_past_the_table(self):
        self.sign_in_to(long_list_answer())
        self.by_id("filter").send_keys("ARRAY-19")
        self.wait_until(lambda: self.by_id("results-count").text == "10 of 200 arrays",
                        "the filtered count")
        self.assertEqual(len(self.table_rows()), 10)

        def addresses():
            return [tuple(int(p) for p in r[0].split(".")) for r in self.table_rows()]

        header = self.d.find_element(By.XPATH, "//th/button[text()='IP address']")
        header.click()
        self.assertEqual(addresses(), sorted(addresses()))
        self.assertEqual(self.d.find_element(By.CSS_SELECTOR, "th[aria-sort]").text,
                         "IP address")
        self.d.find_element(By.XPATH, "//th/button[text()='IP address']").click()
        self.assertEqual(addresses(), sorted(addresses(), reverse=True))
        self.assertEqual(self.d.find_element(By.CSS_SELECTOR, "th[aria-sort]")
                         .get_attribute("aria-sort"), "descending")
        self.screenshot("self-service-filtered-sorted.png")
        self.assert_accessible("filtered and sorted")

        self.by_id("filter").send_keys("no such array")
        self.wait_until(lambda: self.by_id("no-match").is_displayed(), "no match")
        self.assertFalse(self.by_id("list-end").is_displayed())
        self.assertEqual(self.by_id("skip-table").get_attribute("hidden"), "true")
        self.by_id("filter").clear()
        self.by_id("filter").send_keys(Keys.SPACE, Keys.BACKSPACE)
        self.wait_until(lambda: self.by_id("results-count").text == "200 arrays", "all rows")
        # The skip link is the next stop after the filter, and lands after the table.
        ActionChains(self.d).send_keys(Keys.TAB).perform()
        self.assertEqual(self.active_id(), "skip-table")
        self.assertTrue(self.by_id("skip-table").is_displayed())
        ActionChains(self.d).send_keys(Keys.ENTER).perform()
        self.assertEqual(self.active_id(), "list-end")

    def test_phones_sort_with_a_control_of_their_own_and_start_by_name(self):
        names = ["zulu-array", "Alpha-array", "array-10", "array-9"]
        self.use_viewport(PHONE, mobile=True)
        self.sign_in_to(long_list_answer(names))
        # The hidden header still names the columns, but has nothing to reach.
        thead = self.d.find_element(By.TAG_NAME, "thead").rect
        self.assertLessEqual(thead["width"] * thead["height"], 1)
        self.assertEqual(self.d.find_elements(By.CSS_SELECTOR, "thead button"), [])
        self.assertEqual(len(self.d.find_elements(By.CSS_SELECTOR, "thead th")), 7)
        by_name = [r[1] for r in self.table_rows()]
        self.assertEqual(by_name[:3], ["Alpha-array", "array-9", "array-10"])
        self.assertEqual(by_name[-1], "zulu-array")
        key, order = Select(self.by_id("sort-key")), Select(self.by_id("sort-order"))
        self.assertTrue(self.by_id("sort-key").is_displayed())

        def addresses():
            return [tuple(int(p) for p in r[0].split(".")) for r in self.table_rows()]

        for direction, descending in [("Descending", True), ("Ascending", False)]:
            key.select_by_visible_text("IP address")
            order.select_by_visible_text(direction)
            self.assertEqual(addresses(), sorted(addresses(), reverse=descending))
            self.assertEqual(self.d.find_element(By.CSS_SELECTOR, "th[aria-sort]")
                             .get_attribute("aria-sort"), direction.lower())
        self.screenshot("self-service-phone-sort.png")
        self.assert_accessible("phone, sorted by the control")
        # The header's buttons set the control too; a wide screen does without it.
        self.use_viewport(DESKTOP, mobile=False)
        self.assertFalse(self.by_id("sort-key").is_displayed())
        self.d.find_element(By.XPATH, "//th/button[text()='Product']").click()
        self.assertEqual([self.by_id(i).get_property("value") for i in ["sort-key", "sort-order"]],
                         ["Product", "ascending"])
        self.assertEqual(self.active_id(), "")
        self.assertEqual(self.d.switch_to.active_element.text, "Product")
        # Back on a phone, the focus on a header's button moves to the control.
        self.use_viewport(PHONE, mobile=True)
        self.wait_until(lambda: self.active_id() == "sort-key", "the focus on Sort by")

    def test_direction_marks_stay_inside_the_name(self):
        self.grant_clipboard(STAND_IN)
        self.sign_in_to(long_list_answer([RLO_NAME]), user="\u202eeve")
        self.assertEqual(self.table_rows()[0][1], RLO_NAME)
        isolation = self.d.execute_script("""
            return [...document.querySelectorAll('#arrays-body tr:first-child .value,'
                                                 + '#session-name .value')]
                .map((e) => e.localName + ' ' + getComputedStyle(e).unicodeBidi);""")
        self.assertEqual(isolation, ["bdi isolate"] * 7)
        show = self.first_row_controls()[1]
        # Named without invisible isolating characters, which some speech voices: the name is
        # the cell's own, isolated there by its markup.
        self.assertEqual(show.accessible_name, "Show administrator password of " + RLO_NAME)
        self.record_announcements()
        # The name that follows "Signed in as" starts right of it.
        prefix, name = self.d.execute_script("""
            const who = document.querySelector('.session-user');
            return [who.firstChild, who.querySelector('bdi')].map((n) => {
                const range = document.createRange();
                range.selectNodeContents(n);
                const box = range.getBoundingClientRect();
                return [box.left, box.right];
            });""")
        self.assertLessEqual(prefix[1], name[0] + 1)
        self.assertEqual(self.copy_and_paste(0, "navigator.clipboard", "LoginUserName"),
                         "administrator")
        self.wait_announced("Copied the administrator user name of %s." % RLO_NAME)
        self.assertEqual(self.d.execute_script(
            "return getComputedStyle(document.querySelector('#status bdi')).unicodeBidi"),
            "isolate")
        self.screenshot("self-service-direction-marks.png")
        self.assert_accessible("direction marks")

    def test_a_shown_password_hides_itself_and_an_idle_page_signs_out(self):
        self.use_short_timings("revealMs", "idleMs", "idleWarningMs")
        self.record_announcements()
        self.sign_in_to(long_list_answer())
        show = self.first_row_controls()[1]
        show.click()
        self.assertIn("pw-000", self.d.page_source)
        self.wait_until(lambda: show.text == "Show", "the password to hide itself")
        self.assertNotIn("pw-000", self.d.page_source)
        self.assertEqual(show.get_attribute("aria-pressed"), "false")
        self.wait_announced("Password hidden.")
        # The warning, ignored, ends with the sign-out.
        self.wait_until(lambda: self.by_id("signin").is_displayed(), "the idle sign-out")
        self.assertFalse(self.by_id("idle-dialog").is_displayed())
        self.assertIn("signed out after 10 minutes without input", self.wait_message())
        self.assertEqual(self.table_rows(), [])
        self.assertEqual(self.active_id(), "user")
        self.assert_accessible("signed out when idle")
        # The alert says why, once: the status does not repeat it.
        self.assertFalse(any("without input" in a for a in self.announcements()),
                         self.announcements())

    def test_cancel_while_waiting_keeps_the_focus_on_view(self):
        stand_in.hold = threading.Event()
        stand_in.answer = long_list_answer()
        self.by_id("user").send_keys("dana")
        self.by_id("password").send_keys("pw", Keys.ENTER)
        self.wait_until(lambda: self.by_id("cancel").is_displayed(), "Cancel")
        focused = self.d.switch_to.active_element
        self.assertEqual(focused.get_attribute("id"), "password")
        self.assertTrue(focused.is_displayed())
        self.by_id("sign-in").click()  # a second press sends nothing more
        self.assertEqual(self.active_id(), "sign-in")
        self.assertTrue(self.by_id("sign-in").is_displayed())
        self.screenshot("self-service-signing-in.png")
        self.assert_accessible("signing in")
        self.by_id("cancel").click()
        self.assertIn("cancelled", self.wait_message())
        self.assertFalse(self.by_id("cancel").is_displayed())
        self.assertEqual(self.active_id(), "password")
        # The late answer changes nothing; the next sign-in works.
        stand_in.hold.set()
        stand_in.hold = None
        self.sign_in_to(long_list_answer())

    def test_a_service_that_goes_away_is_told(self):
        self.use_short_timings("serviceCheckMs", "serviceCheckTimeoutMs")
        self.sign_in_to(long_list_answer())
        stand_in.gone = True
        self.wait_until(lambda: "stopped answering" in self.by_id("service-notice").text,
                        "the notice")
        self.screenshot("self-service-service-gone.png")
        self.assert_accessible("service gone")
        stand_in.gone = False
        self.wait_until(lambda: "answers again" in self.by_id("service-notice").text,
                        "the service back")


@unittest.skipUnless(running_user, "only with --service")
class RunningProgram(PageCase):
    """The page as a running program serves it, for a user of that program's directory."""

    def test_the_user_sees_what_query_lists(self):
        self.assert_accessible("sign-in")
        expected = query_with_curl(*running_user)
        self.signed_in(*running_user)
        rows = self.table_rows()
        self.assertEqual(sorted(r[:6] for r in rows),
                         sorted([s.get(c) for c in COLUMNS] for s in expected))
        self.assertEqual(self.by_id("admin-badge").is_displayed(),
                         expected.get("AdminGroup") == "Yes")
        by_mac = {s.get("MAC"): s for s in expected}
        for row, server in enumerate(by_mac[r[4]] for r in rows):
            self.d.find_elements(By.CSS_SELECTOR, "#arrays-body tr")[row] \
                .find_element(By.XPATH, ".//button[text()='Show']").click()
            self.assertTrue(self.table_rows()[row][6].startswith(server.get("LoginPasswd")))
        self.screenshot("self-service-lab.png")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + (["RunningProgram"] if running_user else []),
                  verbosity=2)
