"""Opens every page of the built site (build/site) in headless Chromium and checks it as a reader
would meet it: each page loads with no console error, every link between the pages leads to a page
and an anchor that exist, every picture loads, and the reference shows every public member of the
package. Saves a screenshot of the home page to build/docs/home.png.

The site is served by a server on the loopback for the run (the search runs in a web worker, which
a file:// page may not start); the browser is Debian's chromium with its chromium-driver.

    scripts/docs_check.py [--site build/site] [--screenshot build/docs/home.png]
"""

from __future__ import annotations

import argparse
import functools
import http.server
import sys
import threading
import time
from pathlib import Path
from urllib.parse import unquote, urldefrag, urlparse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

import docs_reference  # beside this script, which Python puts first on sys.path

ROOT = Path(__file__).resolve().parent.parent
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format: str, *args: object) -> None:
        pass


def reference_ids() -> list[str]:
    """The anchors mkdocstrings gives every public name and member."""
    module = docs_reference.load()
    ids = []
    for name, obj in docs_reference.public_names(module):
        ids.append(f"{docs_reference.PACKAGE}.{name}")
        if obj.is_class or obj.is_module:
            for member in docs_reference.public_members(obj):
                if not (obj.is_class and member == "__init__"):
                    ids.append(f"{docs_reference.PACKAGE}.{name}.{member}")
    return ids


def browser() -> webdriver.Chrome:
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in (
        "--headless=new",
        "--no-sandbox",
        "--disable-gpu",
        "--disable-dev-shm-usage",
        "--window-size=1280,1000",
        "--disable-extensions",
        "--no-first-run",
    ):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(options=options, service=Service(executable_path=CHROMEDRIVER))


def page_path(site: Path, url_path: str) -> Path:
    path = site / unquote(url_path).lstrip("/")
    return path / "index.html" if url_path.endswith("/") or path.is_dir() else path


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--site", type=Path, default=ROOT / "build" / "site")
    parser.add_argument("--screenshot", type=Path, default=ROOT / "build" / "docs" / "home.png")
    args = parser.parse_args()
    site = args.site.resolve()
    pages = sorted(p for p in site.rglob("index.html") if "assets" not in p.parts)
    if not pages:
        print(f"docs_check: no pages in {site}; run `make docs`", file=sys.stderr)
        return 1

    start = time.monotonic()
    handler = functools.partial(QuietHandler, directory=str(site))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    base = f"http://127.0.0.1:{server.server_address[1]}/"
    problems: list[str] = []
    ids: dict[str, set[str]] = {}  # page path -> its anchors
    links: list[tuple[str, str]] = []  # (page it is on, url)
    driver = browser()
    try:
        for page in pages:
            rel = page.relative_to(site).parent.as_posix()
            path = "/" if rel == "." else f"/{rel}/"
            driver.get(base + path.lstrip("/"))
            driver.execute_script("return document.readyState")
            for entry in driver.get_log("browser"):
                if entry["level"] == "SEVERE":
                    problems.append(f"{path}: console error: {entry['message']}")
            ids[path] = set(
                driver.execute_script(
                    "return Array.from(document.querySelectorAll('[id]'), e => e.id)"
                )
            )
            for img in driver.find_elements(By.TAG_NAME, "img"):
                if not driver.execute_script(
                    "return arguments[0].complete && arguments[0].naturalWidth > 0", img
                ):
                    problems.append(f"{path}: picture {img.get_attribute('src')} does not load")
            for a in driver.find_elements(By.CSS_SELECTOR, "a[href]"):
                href = a.get_attribute("href") or ""
                if href.startswith(base):
                    links.append((path, href))
            if path == "/":
                args.screenshot.parent.mkdir(parents=True, exist_ok=True)
                driver.save_screenshot(str(args.screenshot))
        if "/reference/" in ids:
            missing = [i for i in reference_ids() if i not in ids["/reference/"]]
            problems += [f"/reference/: {i} is not on the page" for i in missing]
        else:
            problems.append("the site has no reference page")
    finally:
        driver.quit()
        server.shutdown()
        server.server_close()
        thread.join()

    for page, href in sorted(set(links)):
        url, fragment = urldefrag(href)
        path = urlparse(url).path
        target = page_path(site, path)
        if not target.is_file():
            problems.append(f"{page}: link to {path}, which does not exist")
        elif fragment and target.suffix == ".html":
            key = path if path.endswith("/") else path.rsplit("/", 1)[0] + "/"
            if unquote(fragment) not in ids.get(key, set()):
                problems.append(f"{page}: link to {path}#{fragment}, an anchor that does not exist")

    for problem in problems:
        print(f"docs_check: {problem}", file=sys.stderr)
    print(
        f"docs_check: {len(pages)} pages, {len(set(links))} internal links, "
        f"{len(reference_ids())} reference entries, {len(problems)} problems "
        f"({time.monotonic() - start:.1f} s); home page screenshot in {args.screenshot}"
    )
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
