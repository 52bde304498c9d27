#!/usr/bin/python3
"""The board against the real program: a headless Chromium (Debian's, driven by Selenium)
watches the list grow as a replay plays, finds a message in the history and reprints it onto a
CUPS PDF queue of its own; a page without a key says how to ask for one; the door refuses a
request without the token (401) and a change from another origin (403); a key made with
--board-key while the desk runs reads at once, is refused its changes when read-only (403) and
stops when revoked; a non-loopback address without a set token refuses to start; the token and
key files are the user's alone; `--status` answers 0, 1 and 3, and the board's state turns
degraded and back, against a running desk whose source goes down and whose printer is paused
(cupsdisable); an NWS warning heard from the TNC alarms at the top of the board, an acting key
acknowledges it there with a click, and it is gone for every page and for `--status`, the
history and the store naming the key and the time.

Usage: board_test.py PROGRAM      (exit 77: skipped, the reason on standard output)
"""
import http.client
import os
import pwd
import re
import shutil
import signal
import socket
import sqlite3
import stat
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

PROGRAM = os.path.abspath(sys.argv[1])
QUEUE = "Quillmark-Board-%d" % os.getpid()
failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


def wait_for(predicate, seconds, step=0.1):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)  # polls another process
    return predicate()


def skip(reason):
    print("skipped: " + reason)
    sys.exit(77)


def completed_jobs():
    out = subprocess.run(["lpstat", "-W", "completed", "-o", QUEUE], capture_output=True, text=True).stdout
    return set(re.findall(r"^%s-(\d+)" % re.escape(QUEUE), out, re.M))


class Run:
    """The program in a folder of its own, its standard error in a file."""

    def __init__(self, home, args, ini="[Settings]\ncbBull.Checked=True\nedMsgCount.Text=20\n"):
        self.config = os.path.join(home, "config")
        os.makedirs(self.config, exist_ok=True)
        if ini is not None:
            with open(os.path.join(self.config, "Quillmark.ini"), "w") as f:
                f.write(ini)
        self.err_path = os.path.join(home, "stderr-%d.txt" % time.monotonic_ns())
        runtime = os.path.join(home, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = dict(os.environ, HOME=home, LPDEST=QUEUE, XDG_RUNTIME_DIR=runtime)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        self.env = env
        self.err = open(self.err_path, "w")
        self.proc = subprocess.Popen([PROGRAM, "--no-window", "--config", self.config] + args, env=env,
                                     stdout=subprocess.DEVNULL, stderr=self.err)

    def stderr(self):
        with open(self.err_path) as f:
            return f.read()

    def url(self):
        m = wait_for(lambda: re.search(r"^Board: (http://\S+)$", self.stderr(), re.M) or self.proc.poll() is not None,
                     30)
        return m.group(1) if hasattr(m, "group") else None

    def started(self, what):
        """The board's address once the desk says it, checked as `what`; None when it never does."""
        url = self.url()
        check(url is not None, what)
        if url is None:
            print(self.stderr())
        return url

    def status(self):
        p = subprocess.run([PROGRAM, "--status", "--config", self.config], env=self.env, capture_output=True,
                           text=True, timeout=30)
        return p.returncode, p.stdout

    def end(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.err.close()


def request(base, method, path, headers=None, body=None):
    u = urllib.parse.urlsplit(base)
    c = http.client.HTTPConnection(u.hostname, u.port, timeout=10)
    c.request(method, path, body=body, headers=headers or {})
    r = c.getresponse()
    data = r.read()
    c.close()
    return r.status, data


def write_capture(path, items, filler):
    with open(path, "w") as f:
        for n in range(1, items + 1):
            f.write("*12:00:00 N0CALL-5>APRS::BLN%d     :Board item %d\n" % (n % 10, n))
            for _ in range(filler):
                f.write("*12:00:01 W1ABC>APRS:!4903.50N/07201.75W-\n")


def chromium(home):
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        skip("python3-selenium is not installed")
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + os.path.join(home, "chromium")):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


def text_of(driver, element_id):
    return driver.execute_script("return (document.getElementById(arguments[0]) || {}).textContent || ''",
                                 element_id)


def board_key(run, *args):
    p = subprocess.run([PROGRAM, "--config", run.config] + list(args), env=run.env, capture_output=True,
                       text=True, timeout=30)
    m = re.search(r"\?key=([0-9a-f]{64})$", p.stdout, re.M)
    return p.returncode, p.stdout + p.stderr, m.group(1) if m else None


def browser_test(home):
    try:
        from selenium.webdriver.common.by import By
    except ImportError:
        skip("python3-selenium is not installed")
    capture = os.path.join(home, "capture.txt")
    write_capture(capture, 12, 24)  # one bulletin every 5 s at pace 5: the desk runs for a minute
    run = Run(home, ["--replay", capture, "--pace", "5", "--web", "127.0.0.1:0"])
    try:
        url = run.started("the board's address is on standard error")
        if url is None:
            return
        base = url.split("/?token=")[0]
        token = url.split("token=")[1]
        driver = chromium(home)
        try:
            driver.get(base + "/")
            check(wait_for(lambda: "quillmark --board-key NAME" in text_of(driver, "nokey")
                           and driver.find_element(By.ID, "nokey").is_displayed(), 10),
                  "a page without a key says how to ask for one")
            driver.get(url)
            check(wait_for(lambda: driver.current_url == base + "/", 10), "the token leaves the address")
            kept = wait_for(lambda: driver.execute_script(
                "return localStorage.getItem('quillmark-board-session')"), 10)
            check(kept and kept != token, "the browser keeps a session of this run, not the token")
            check(all(token not in c.get("value", "") for c in driver.get_cookies()),
                  "no cookie carries the token (a browser sends cookies to every port)")
            entries = lambda: len(driver.find_elements(By.CSS_SELECTOR, "#entries .entry"))
            first = wait_for(entries, 30)
            check(first >= 1, "the list shows the first entries")
            grown = wait_for(lambda: entries() > first, 30)
            check(grown, "the list grows as the replay plays (%d, then %d)" % (first, entries()))
            check(re.search(r"\d+ of 20", driver.find_element(By.ID, "count").text) is not None,
                  "the count reads as the window's: " + driver.find_element(By.ID, "count").text)
            lines = driver.execute_script(
                "return document.querySelector('#entries .entry pre.lines').textContent").split("\n")
            check(len(lines) == 3, "an entry's page lines are three")
            card = lambda: driver.execute_script(
                "const e = document.querySelector('#entries .entry');"
                "return [e.querySelector('.from'), e.querySelector('.text'), e.querySelector('.facts')]"
                ".map(x => x ? x.textContent : '')")
            read = wait_for(lambda: (lambda c: c if c[0] == "N0CALL-5" and c[1].startswith("Board item")
                                     and "UTC" in c[2] else None)(card()), 20)
            check(read is not None, "an entry reads as a message: its sender, text and times (%s)" % card())

            # Item 3 is searched for once it is listed: one bulletin comes every 5 s.
            check(wait_for(lambda: entries() >= 3, 30), "the third entry is listed (%d)" % entries())
            before = completed_jobs()
            driver.find_element(By.ID, "history-text").send_keys("item 3")
            driver.find_element(By.ID, "history-go").click()
            rows = lambda: driver.execute_script(
                "return [...document.querySelectorAll('#history-rows tr')].map(r => r.textContent)")
            found = wait_for(lambda: (lambda r: r if r and all("Board item 3" in t for t in r) else None)(rows()), 20)
            check(found is not None and len(found) == 1, "a history search finds the message, and only it: %s" % found)
            if found:
                driver.find_element(By.CSS_SELECTOR, "#history-rows input.pick").click()
                driver.find_element(By.ID, "reprint-selected").click()
                check(wait_for(lambda: driver.find_element(By.ID, "result").text == "Reprinted", 20),
                      "the reprint is taken: " + driver.find_element(By.ID, "result").text)
                new = wait_for(lambda: completed_jobs() - before, 60)
                check(len(new) == 1, "the reprint is a job on the CUPS queue %s (%s)" % (QUEUE, sorted(new)))
            shot = os.environ.get("QM_BOARD_SCREENSHOT")  # scripts/screenshots.sh keeps them for the README
            if shot:
                driver.execute_script("document.querySelector('#entries details').open = true")
                for size, name in (((1280, 900), shot), ((390, 844), shot.replace(".png", "-phone.png"))):
                    driver.set_window_size(*size)
                    driver.execute_script("window.scrollTo(0, 0)")
                    driver.save_screenshot(name)
                driver.set_window_size(1280, 900)
                driver.find_element(By.ID, "wall-toggle").click()
                driver.save_screenshot(shot.replace(".png", "-wall.png"))
        finally:
            driver.quit()

        # The door, without a browser.
        jobs = completed_jobs()
        host = urllib.parse.urlsplit(base).netloc
        status, body = request(base, "GET", "/api/state")
        check(status == 401 and b"messages" not in body, "no token: 401 and nothing else")
        status, _ = request(base, "POST", "/api/reprint", {"Origin": "http://" + host,
                                                          "Content-Type": "application/x-www-form-urlencoded"},
                            "id=1")
        check(status == 401, "a reprint without the token is refused")
        key = {"Authorization": "Bearer " + token, "Content-Type": "application/x-www-form-urlencoded"}
        status, _ = request(base, "POST", "/api/reprint", dict(key, Origin="http://evil.example"), "id=1")
        check(status == 403, "a reprint from another origin is refused")
        status, _ = request(base, "POST", "/api/reprint", dict(key, **{"Sec-Fetch-Site": "cross-site"}), "id=1")
        check(status == 403, "a reprint the browser calls cross-site is refused")
        check(completed_jobs() == jobs and not [j for j in os.popen("lpstat -o %s" % QUEUE)],
              "the refused reprints made no job")

        # A key made while the desk runs: it reads at once, a read-only one acts nowhere.
        code, said, wall = board_key(run, "--board-key", "wall")
        check(code == 0 and wall and "read only" in said, "--board-key makes a read-only key:\n" + said)
        check(base + "/?key=" + wall in said, "the key's address is the running board's (%s):\n%s" % (base, said))
        status, body = request(base, "GET", "/api/state", {"Authorization": "Bearer %s" % wall})
        check(status == 200 and b'"health"' in body, "the key made while the desk runs reads its state")
        for path, body in (("/api/reprint", "id=1"), ("/api/alarms/acknowledge", "{}")):
            status, answer = request(base, "POST", path, {"Authorization": "Bearer %s" % wall,
                                                          "Origin": "http://" + host}, body)
            check(status == 403 and b"may only read" in answer, "a read-only key's %s is refused: %s" % (path, answer))
        check(completed_jobs() == jobs, "the refused reprint made no job")
        code, said, _ = board_key(run, "--board-keys")
        check(code == 0 and "wall: read only" in said and wall not in said, "--board-keys lists names, not keys")
        code, said, _ = board_key(run, "--board-key-revoke", "wall")
        status, _ = request(base, "GET", "/api/state", {"Authorization": "Bearer %s" % wall})
        check(code == 0 and status == 401, "a revoked key stops at once (%d)" % status)
        check(wait_for(lambda: "Board key wall revoked" in log_text(run), 20), "the revoked key is logged")

        for name in ("Quillmark-board.token", "Quillmark-board.keys"):
            mode = stat.S_IMODE(os.stat(os.path.join(run.config, name)).st_mode)
            check(mode == 0o600, "%s is 0600 (%o)" % (name, mode))
        token_file = os.path.join(run.config, "Quillmark-board.token")
        if os.getuid() == 0 and shutil.which("runuser"):
            other = subprocess.run(["runuser", "-u", "nobody", "--", "cat", token_file], capture_output=True)
            check(other.returncode != 0 and token.encode() not in other.stdout,
                  "another local user cannot read the token file")
    finally:
        run.end()


def log_text(run):
    text = ""
    for name in os.listdir(run.config):
        if name.endswith(".log"):
            with open(os.path.join(run.config, name), errors="replace") as f:
                text += f.read()
    return text


def refuses_other_address(home):
    capture = os.path.join(home, "empty.txt")
    open(capture, "w").close()
    run = Run(home, ["--replay", capture, "--web", "0.0.0.0:0"])
    code = run.proc.wait(30)
    text = run.stderr()
    run.end()
    check(code == 2 and "token you set" in text and "Board:" not in text,
          "another address without a set token refuses to start (%d: %s)" % (code, text.strip()))


def kiss_frame(source, info):
    """A KISS data frame of an AX.25 UI packet from `source` to APRS."""
    def address(call, last):
        call, _, ssid = call.partition("-")
        return bytes(ord(c) << 1 for c in call.ljust(6)) + bytes([0x60 | (int(ssid or 0) << 1) | int(last)])
    frame = address("APRS", False) + address(source, True) + b"\x03\xf0" + info.encode()
    return b"\xc0\x00" + frame.replace(b"\xdb", b"\xdb\xdd").replace(b"\xc0", b"\xdb\xdc") + b"\xc0"


class Tnc:
    """A KISS TNC that takes the connection, hands over `frames` and stays silent: the source is
    up while it runs."""

    def __init__(self, frames=b""):
        self.frames = frames
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(4)
        self.port = self.server.getsockname()[1]
        self.conns = []
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                c, _ = self.server.accept()
            except OSError:
                return
            self.conns.append(c)
            c.sendall(self.frames)

    def close(self):
        self.server.close()
        for c in self.conns:
            c.close()


def status_test(home):
    tnc = Tnc()
    run = Run(home, ["--kiss", "127.0.0.1:%d" % tnc.port, "--web", "127.0.0.1:0"])
    try:
        url = run.url()
        check(url is not None, "the desk with a KISS source starts")
        driver = chromium(home)
        try:
            driver.get(url)
            health = lambda: text_of(driver, "health")
            check(wait_for(lambda: health() == "All well", 30), "the wall's state: all well (%s)" % health())
            subprocess.run(["cupsdisable", QUEUE], check=True)
            code, out = wait_for(lambda: (lambda r: r if r[0] == 1 and "paused" in r[1] else None)(run.status()), 30)
            check(code == 1 and "Board: " + url in out, "--status: 1 with the printer paused\n" + out)
            check(wait_for(lambda: health() == "Degraded" and "paused" in text_of(driver, "health-parts")
                           and "since" in text_of(driver, "health-parts"), 30),
                  "the wall's state turns degraded, naming the paused printer and since when: %s / %s"
                  % (health(), text_of(driver, "health-parts")))
            subprocess.run(["cupsenable", QUEUE], check=True)
            r = wait_for(lambda: (lambda r: r if r[0] == 0 else None)(run.status()), 30)
            check(r is not None, "--status: 0 with the source up and the printer ready\n%s" % (r and r[1]))
            check(wait_for(lambda: health() == "All well", 30), "the wall's state is well again (%s)" % health())
        finally:
            driver.quit()
        tnc.close()
        r = wait_for(lambda: (lambda r: r if r[0] == 1 else None)(run.status()), 30)
        check(r is not None and "KISS" in r[1], "--status: 1 with the source down\n%s" % (r and r[1]))
        said = run.stderr()
    finally:
        run.end()
        tnc.close()
    code, out = run.status()
    check(code == 3, "--status: 3 when no desk runs there (%d)" % code)
    lines = [line for line in said.splitlines() if "KISS" in line and "127.0.0.1" in line]
    check(len(lines) <= 4, "a source down is told once per change, not per retry:\n" + "\n".join(lines))
    check("Printer: " in said and "ready again" in said, "the paused printer and its return are told")


def alarm_test(home):
    try:
        from selenium.webdriver.common.by import By
    except ImportError:
        skip("python3-selenium is not installed")
    # A warning for an Oklahoma county that expires in six hours (DDHHMMz, UTC).
    until = time.gmtime(time.time() + 6 * 3600)
    text = "%02d%02d%02dz,SVR_TSTORM,OK_C109" % (until.tm_mday, until.tm_hour, until.tm_min)
    tnc = Tnc(kiss_frame("WXSVR", ":NWS-WARN :%s{W17" % text))
    ini = "[Settings]\ncbNWSWarnings.Checked=True\n[StateSelection]\nOK=1\n[Alarms]\nKinds=warning\n"
    run = Run(home, ["--kiss", "127.0.0.1:%d" % tnc.port, "--web", "127.0.0.1:0"], ini=ini)
    drivers = []
    try:
        url = run.started("the desk with the TNC starts")
        if url is None:
            return
        base = url.split("/?token=")[0]
        code, said, desk = board_key(run, "--board-key", "shelter-desk", "--can-act")
        check(code == 0 and desk and "can act" in said, "an acting key is made:\n" + said)
        code, said, wall = board_key(run, "--board-key", "wall")
        check(code == 0 and wall, "a read-only key is made:\n" + said)
        alarm_line = lambda: re.search(r"^Alarm: WXSVR to NWS-WARN: .*SVR_TSTORM", run.status()[1], re.M)
        check(wait_for(alarm_line, 30), "--status names the warning's alarm")

        pages = {}
        for name, key in (("desk", desk), ("wall", wall)):
            os.makedirs(os.path.join(home, name))
            driver = chromium(os.path.join(home, name))
            drivers.append(driver)
            driver.set_window_size(1280, 900)
            driver.get("%s/?key=%s" % (base, key))
            pages[name] = driver
        alarms = lambda d: d.execute_script(
            "const s = document.getElementById('alarms-section');"
            "return s && !s.hidden ? [...s.querySelectorAll('li.alarm')].map(li => li.textContent) : []")
        for name, driver in pages.items():
            shown = wait_for(lambda: alarms(driver), 30)
            check(shown and len(shown) == 1 and "SVR_TSTORM" in shown[0] and "NWS-WARN" in shown[0],
                  "the %s page shows the warning's alarm: %s" % (name, shown))
        desk_page, wall_page = pages["desk"], pages["wall"]
        top = lambda d, section: d.execute_script(
            "return document.getElementById(arguments[0]).getBoundingClientRect().top", section)
        check(top(desk_page, "alarms-section") < min(top(desk_page, "list-section"), 300),
              "the alarm stands at the top, above the list (%s, %s)"
              % (top(desk_page, "alarms-section"), top(desk_page, "list-section")))
        check(not wall_page.find_elements(By.CSS_SELECTOR, "#alarms li.alarm button"),
              "a read-only page offers no acknowledgement")
        shot = os.environ.get("QM_BOARD_ALARM_SCREENSHOT")  # docs/screenshots/board-alarm.png
        if shot:
            desk_page.execute_script("window.scrollTo(0, 0)")
            desk_page.save_screenshot(shot)

        clicked = time.strftime("%H:%M:%S", time.gmtime())
        desk_page.find_element(By.CSS_SELECTOR, "#alarms li.alarm button").click()
        for name, driver in pages.items():
            check(wait_for(lambda: not alarms(driver), 20), "the alarm is gone from the %s page" % name)
        check(wait_for(lambda: not alarm_line(), 20), "--status has no alarm line any more")
        check(desk_page.find_element(By.ID, "ack-result").text == "", "the acknowledgement is not refused")

        desk_page.find_element(By.ID, "history-text").send_keys("SVR_TSTORM")
        desk_page.find_element(By.ID, "history-go").click()
        rows = lambda: desk_page.execute_script(
            "return [...document.querySelectorAll('#history-rows tr')].map(r => r.textContent)")
        row = wait_for(lambda: [r for r in rows() if "SVR_TSTORM" in r and "Acknowledged by" in r], 20)
        seen = time.strftime("%H:%M:%S", time.gmtime())
        when = re.search(r"Acknowledged by shelter-desk at .*\((\d\d:\d\d:\d\d) UTC\)", row[0]) if row else None
        # The time of the click, as UTC; a run across midnight takes any time.
        check(when is not None and (clicked <= when.group(1) <= seen or seen < clicked),
              "the history names who acknowledged it and when (%s to %s): %s" % (clicked, seen, row))
        store = sqlite3.connect("file:%s?mode=ro" % os.path.join(run.config, "Quillmark-messages.db"), uri=True)
        try:
            kept = store.execute("SELECT acknowledged_by, acknowledged_where, acknowledged_utc FROM messages "
                                 "WHERE message_text LIKE '%SVR_TSTORM%'").fetchall()
        finally:
            store.close()
        check(len(kept) == 1 and kept[0][0] == "shelter-desk" and kept[0][1] == "board" and kept[0][2],
              "the store keeps who, where and when: %s" % kept)
        check(wait_for(lambda: "shelter-desk" in log_text(run), 20), "the log names the key that acknowledged")
    finally:
        for driver in drivers:
            driver.quit()
        run.end()
        tnc.close()


def main():
    for tool in ("chromium", "chromedriver", "lpadmin"):
        if not shutil.which(tool):
            skip(tool + " is not installed")
    subprocess.run(["lpadmin", "-p", QUEUE, "-E", "-v", "cups-pdf:/quillmark", "-m",
                    "lsb/usr/cups-pdf/CUPS-PDF_opt.ppd", "-o", "printer-is-shared=false"], check=True)
    try:
        with tempfile.TemporaryDirectory() as home:
            os.chmod(home, 0o755)
            for test in (browser_test, refuses_other_address, status_test, alarm_test):
                folder = os.path.join(home, test.__name__)
                os.makedirs(folder)
                test(folder)
    finally:
        subprocess.run(["cancel", "-a", QUEUE], capture_output=True)
        subprocess.run(["lpadmin", "-x", QUEUE], capture_output=True)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
