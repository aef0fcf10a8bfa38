"""The campaign page in a real browser (headless Chromium through
chromedriver), from a file:// URL as a reader opens an attachment.

The results come from the demo batch and a --details batch with a failing
row; the page from `audiomeas report` (the Python call must give the same
bytes). Checked: no console error, the summary's counts are the results
file's, sorting and filtering change the visible rows as they should, a
detail view opens with its plots, nothing is requested from the network, and
a page of 10,000 rows stays under 20 MB, sorts in well under a second and
turns its pages.
Run by tools/browser-check; AUDIOMEAS_SCREENSHOT=FILE also saves a picture.
"""

import collections
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

CHECKOUT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(CHECKOUT / "tests" / "support"), str(CHECKOUT / "python")]

from schema import validate  # noqa: E402

webdriver = pytest.importorskip("selenium.webdriver")
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

LIB_DIR = Path(os.environ.get("AUDIOMEAS_LIB_DIR") or CHECKOUT / "build" / "lib")
CLI = Path(os.environ.get("AUDIOMEAS_CLI") or LIB_DIR.parent / "bin" / "audiomeas")
CHROMIUM, CHROMEDRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
LARGE_ROWS = 10_000
MAX_LARGE_BYTES = 20_000_000
MAX_SORT_S = 1.0


def run(*args, cwd, code=0):
    done = subprocess.run([str(CLI), *map(str, args)], cwd=cwd, capture_output=True, text=True)
    assert done.returncode == code, done.stderr
    return done.stdout


def statuses(results: Path) -> collections.Counter:
    lines = results.read_text().splitlines()[1:]
    return collections.Counter(json.loads(line)["status"] for line in lines)


@pytest.fixture(scope="module")
def campaign(tmp_path_factory):
    """The demo's rows with --details and two more: one flagged (an
    unrelated recording), one that fails (a missing file with markup in its
    name)."""
    top = tmp_path_factory.mktemp("campaign")
    run("demo", "--write-signals", top / "signals", cwd=top)
    signals = top / "signals"
    run("batch", "manifest.csv", "-j", "2", "-o", top / "demo.jsonl", cwd=signals)
    manifest = (signals / "manifest.csv").read_text()
    manifest += ("align,align_reference.wav,attack_release_recording.wav,\n"
                 "align,missing <b>&amp;.wav,align_recording.wav,\n")
    (signals / "details.csv").write_text(manifest)
    run("batch", "details.csv", "-j", "2", "--details", "-o", top / "details.jsonl", cwd=signals, code=3)
    page = top / "page.html"
    summary = json.loads(run("report", top / "details.jsonl", "-o", page, "--json", cwd=top))
    return top, page, summary


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1280,2000", f"--user-data-dir={tmp_path_factory.mktemp('chromium-profile')}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    from selenium.webdriver.chrome.service import Service
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    yield driver
    driver.quit()


def open_page(browser, page: Path):
    browser.get(page.as_uri())
    browser.get_log("browser")  # what came before this page


def visible_rows(browser) -> list[list[str]]:
    return browser.execute_script(
        "return Array.from(document.querySelectorAll('#row-table tbody tr'))"
        ".filter(tr => !tr.hidden).map(tr => Array.from(tr.cells).map(td => td.textContent));")


def test_summary_validates_and_python_gives_the_same_page(campaign):
    top, page, summary = campaign
    validate(summary, "campaign-report")
    os.environ.setdefault("AUDIOMEAS_LIB_DIR", str(LIB_DIR))
    import audiomeas
    again = top / "again.html"
    assert audiomeas.report(top / "details.jsonl", again)["bytes"] == summary["bytes"]
    assert again.read_bytes().replace(b"again.html", b"") == page.read_bytes().replace(b"page.html", b"")
    with pytest.raises(ValueError):
        audiomeas.report(top / "signals" / "manifest.csv", top / "never.html")
    with pytest.raises(OSError):
        audiomeas.report(top / "details.jsonl", top / "no-folder" / "page.html")
    assert not (top / "never.html").exists()


def test_page_opens_counts_sorts_filters_and_details(campaign, browser):
    top, page, _ = campaign
    open_page(browser, page)
    assert [e for e in browser.get_log("browser") if e["level"] == "SEVERE"] == []

    counts = statuses(top / "details.jsonl")
    for status in ("ok", "doubtful", "flagged", "error"):
        cell = browser.find_element(By.CSS_SELECTOR, f'#status-counts td[data-key="{status}"]')
        assert int(cell.text) == counts[status], status
    rows = visible_rows(browser)
    assert len(rows) == sum(counts.values())
    assert "missing <b>&amp;.wav" in " ".join(r[2] for r in rows)  # shown as text, not markup

    heads = browser.find_elements(By.CSS_SELECTOR, "#row-table thead th")
    heads[0].click()
    heads[0].click()  # descending
    numbers = [int(r[0]) for r in visible_rows(browser)]
    assert numbers == sorted(numbers, reverse=True)
    heads[3].send_keys(Keys.ENTER)  # by status, from the keyboard
    assert [r[3] for r in visible_rows(browser)] == sorted(r[3] for r in rows)
    assert heads[3].get_attribute("aria-sort") == "ascending"

    browser.find_element(By.CSS_SELECTOR, '.status-filter[value="ok"]').click()
    assert sorted(r[3] for r in visible_rows(browser)) == sorted(
        s for s in counts.elements() if s != "ok")
    browser.find_element(By.CSS_SELECTOR, '.status-filter[value="ok"]').click()
    search = browser.find_element(By.ID, "text-filter")
    search.send_keys("transient")
    time.sleep(0.5)
    assert {r[1] for r in visible_rows(browser)} == {"transient-snr"}
    search.clear()
    search.send_keys(" ")
    time.sleep(0.5)

    # A --details row's detail view: its plots and its line.
    button = next(b for b in browser.find_elements(By.CSS_SELECTOR, "button.open")
                  if b.text.startswith("attack_release_reference.wav"))
    button.click()
    detail = browser.find_element(By.ID, "detail")
    assert detail.is_displayed()
    assert len(detail.find_elements(By.CSS_SELECTOR, "svg")) >= 3  # correlation, attack, release
    assert '"measurement": "attack-release"' in detail.find_element(By.TAG_NAME, "pre").text
    if os.environ.get("AUDIOMEAS_SCREENSHOT"):
        browser.execute_script("document.getElementById('rows').scrollIntoView()")
        browser.save_screenshot(os.environ["AUDIOMEAS_SCREENSHOT"])

    assert browser.execute_script("return performance.getEntriesByType('resource').length") == 0
    assert browser.execute_script(
        "return Array.from(document.querySelectorAll('[src],[href]')).filter(e => "
        "/^\\s*(https?:)?\\/\\//i.test(e.getAttribute('src') || e.getAttribute('href'))).length") == 0
    assert [e for e in browser.get_log("browser") if e["level"] == "SEVERE"] == []


def test_a_torn_results_file_gives_a_page_that_says_so(campaign, browser):
    top, _, _ = campaign
    text = (top / "demo.jsonl").read_text()
    torn = top / "torn.jsonl"
    torn.write_text(text + text.splitlines()[1][:40])
    page = top / "torn.html"
    summary = json.loads(run("report", torn, "-o", page, "--json", cwd=top))
    assert summary["torn"] and summary["rows"] == len(text.splitlines()) - 1
    open_page(browser, page)
    assert browser.find_element(By.ID, "torn-note").is_displayed()


def test_ten_thousand_rows(campaign, browser):
    """Size of the page and the time a sort takes, printed for the record."""
    top, _, _ = campaign
    header, *lines = (top / "demo.jsonl").read_text().splitlines()
    rows = [json.loads(line) for line in lines]
    out = [header]
    for k in range(LARGE_ROWS):
        row = json.loads(json.dumps(rows[k % len(rows)]))
        row["row"] = k + 1
        row["files"] = [f"unit{k:05d}/{f}" for f in row["files"]]
        out.append(json.dumps(row, separators=(",", ":")))
    large = top / "large.jsonl"
    large.write_text("\n".join(out) + "\n")
    page = top / "large.html"
    started = time.perf_counter()
    summary = json.loads(run("report", large, "-o", page, "--json", cwd=top))
    made = time.perf_counter() - started
    assert summary["rows"] == LARGE_ROWS
    assert page.stat().st_size < MAX_LARGE_BYTES
    started = time.perf_counter()
    open_page(browser, page)
    opened = time.perf_counter() - started
    sort_s = browser.execute_script(
        "const th = document.querySelectorAll('#row-table thead th')[5];"
        "const t0 = performance.now(); th.click(); th.click(); return (performance.now() - t0) / 2000;")
    filter_s = browser.execute_script(
        "const b = document.querySelector('.status-filter[value=\"ok\"]');"
        "const t0 = performance.now(); b.click(); b.click(); return (performance.now() - t0) / 2000;")
    print(f"\n{LARGE_ROWS} rows: page {page.stat().st_size / 1e6:.1f} MB made in {made:.2f} s, "
          f"opened in {opened:.2f} s, a sort takes {sort_s * 1000:.0f} ms, a filter {filter_s * 1000:.0f} ms")
    assert sort_s < MAX_SORT_S
    assert f"of {LARGE_ROWS} matching rows" in browser.find_element(By.ID, "shown").text
    shown = visible_rows(browser)
    assert 0 < len(shown) < LARGE_ROWS  # one page of them
    browser.find_element(By.ID, "next-page").click()
    assert visible_rows(browser)[0][0] != shown[0][0]
