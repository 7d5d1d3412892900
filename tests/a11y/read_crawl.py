"""A crawl read through the accessibility bus, as a screen reader reads it.

Starts the real program on a demo library served on 127.0.0.1, checks the main window's
fields and their labels, starts the crawl from the keyboard and, while it runs, reads the
progress window's three boxes and hears their changes; once it is over, reads the outcome
line. Runs on a session bus of its own (run.sh starts one).

    read_crawl.py PROGRAM DEMO_SERVER
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

PROGRAM, SERVER = sys.argv[1], sys.argv[2]
DEADLINE = time.monotonic() + 40
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def pump(seconds=0.02):
    """Lets events from the bus arrive, then waits a little."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)
    time.sleep(seconds)


def wait_for(what, find, seconds=15):
    end = min(time.monotonic() + seconds, DEADLINE)
    while time.monotonic() < end:
        found = find()
        if found:
            return found
        pump()
    raise TimeoutError(what)


def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def text_of(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


def labels_of(node):
    return [relation.getTarget(i).name
            for relation in node.getRelationSet()
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
            for i in range(relation.getNTargets())]


def program():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == crawler.pid:
            return app


def window(app, name):
    try:
        for frame in app:
            if frame is not None and frame.name == name:
                return frame
    except GLib.Error:  # a window went while the list was read
        pass


def labelled_fields(main):
    """The text fields of a window by the names of their labels, once it has both."""
    fields = {}
    for node in walk(main):
        if node.getRole() == pyatspi.ROLE_TEXT:
            for label in labels_of(node):
                fields[label] = text_of(node)
    return fields if len(fields) >= 2 else None


with tempfile.TemporaryDirectory(prefix="pm-a11y-") as work:
    expected = os.path.join(work, "expected.txt")
    server = subprocess.Popen([SERVER, "--pages", "3", "--tones-per-page", "5",
                               "--tone-delay-ms", "100", "--expect", expected],
                              stdout=subprocess.PIPE, text=True)
    crawler = None
    try:
        url = server.stdout.readline().strip()
        folder = os.path.join(work, "Tones")
        config = os.path.join(work, "config", "Patchmere Crawler")
        os.makedirs(config)
        with open(os.path.join(config, "pmcrawler.conf"), "w") as out:
            out.write(f"[Config]\nLastURL={url}\nLastPath={folder}\n")
        crawler = subprocess.Popen(
            [PROGRAM], env=dict(os.environ, XDG_CONFIG_HOME=os.path.dirname(config),
                                XDG_STATE_HOME=os.path.join(work, "state")))

        heard = []

        def listener(event):
            try:
                heard.append((event.source.name, event.any_data))
            except GLib.Error:  # from a window that has gone since
                pass

        pyatspi.Registry.registerEventListener(listener, "object:text-changed:insert")

        app = wait_for("the program on the bus", program)
        main = wait_for("the main window", lambda: window(app, "Patchmere Crawler"))
        fields = wait_for("the labelled fields", lambda: labelled_fields(main))
        check(fields.get("Source URL") == url, f"the URL field is labelled: {fields}")
        check(fields.get("Save To Path:") == folder, f"the folder field is labelled: {fields}")

        # Started from the keyboard, as a user does: a crawl started by an action of the
        # bus would run inside the bus's own dispatch, and answer nothing until it ends.
        subprocess.run(["xdotool", "search", "--name", "^Patchmere Crawler$", "windowfocus",
                        "--sync", "key", "--window", "%1", "Return"], check=False)
        progress = wait_for("the progress window",
                            lambda: window(app, "Crawling Patchmere library..."))
        seen = {"Page": set(), "Tone": set(), "Log": set()}
        pages = set()  # the whole crawl's line: "Page 2 of at least 3"
        while time.monotonic() < DEADLINE and window(app, "Crawling Patchmere library..."):
            try:
                for node in walk(progress):
                    if node.name in seen and node.getRole() == pyatspi.ROLE_TEXT:
                        states = node.getState()
                        check(states.contains(pyatspi.STATE_READ_ONLY),
                              f"{node.name} is read-only")
                        seen[node.name].add(text_of(node))
                    elif node.getRole() == pyatspi.ROLE_LABEL and node.name.startswith("Page "):
                        pages.add(node.name)
            except Exception:  # the window went while it was read
                break
            pump()
        pump()
        print("Seen:", {name: sorted(texts)[:3] for name, texts in seen.items()})
        page = " ".join(seen["Page"])
        site = re.escape(url.split("/library")[0])
        check(re.search(r"(Downloading page|Walking links on)\n" + site, page),
              "the Page box shows the page being crawled")
        check(any("Downloading tone" in text for text in seen["Tone"]),
              "the Tone box shows the tone being downloaded")
        check(any("OnStartBinding" in text for text in seen["Log"]),
              "the Log box shows the download service's notifications")
        check(any(name == "Page" and data for name, data in heard),
              "changes of the Page box are told")
        counts = [tuple(map(int, m.groups())) for m in
                  (re.fullmatch(r"Page (\d+) of at least (\d+)", line) for line in pages) if m]
        print("Pages:", sorted(counts))
        check(counts and all(0 < walked <= known for walked, known in counts),
              "the pages walked of those known are read")

        with open(expected, encoding="utf-8") as names:
            tones = len(names.read().splitlines())  # the library's distinct tones
        outcome = [node.name for node in walk(main)
                   if node.getRole() == pyatspi.ROLE_LABEL and "stored" in node.name]
        print("Outcome:", outcome)
        check(tones > 0 and len(outcome) == 1
              and outcome[0].startswith(f"{tones} new tones stored"),
              f"the outcome line tells the {tones} tones stored")
    except TimeoutError as missing:
        check(False, f"{missing} did not appear in time")
    finally:
        for process in (crawler, server):
            if process is not None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()

print(f"{0 if failures else 1} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
