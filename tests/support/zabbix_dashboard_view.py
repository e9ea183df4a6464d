"""Opens a host's template dashboard in the real Zabbix frontend with headless Chromium, waits
until every widget has drawn, saves a screenshot and checks the page itself: no widget shows an
error or an empty state, the number widgets show the expected values, and every graph image has
its series drawn in the plot area (pixels of the series colours that the image's own URL names).

    zabbix_dashboard_view.py FRONTEND_URL USER PASSWORD HOSTID SCREENSHOT EXPECTED_JSON

EXPECTED_JSON: {"title": dashboard name, "page": page name (the first page when absent),
                "values": {widget name: shown text},
                "graphs": {widget name: number of graph images},
                "problems": {widget name: [text of each problem listed, in order]}} (the graph
                prototype's images are counted under the prototype widget's name; "problems"
                is for Zabbix 7.0, whose template dashboards take a problems widget).
Prints the seconds from opening the page (or clicking the page's tab) until every widget had
drawn. Exits 1 with one line per fault. Uses Debian's chromium, chromedriver and python3-selenium; the
browser's profile is made beside the screenshot.
"""
import json
import os
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

base, user, password, hostid, screenshot, expected = sys.argv[1:7]
expected = json.loads(expected)
# How long the page may take to draw on a busy machine (the test's own bound).
PATIENCE = int(os.environ.get("IXC_ZABBIX_PATIENCE", "300"))

# Every widget as the page shows it: its name, the graph prototype that holds it (if any),
# whether it is still loading, the messages it shows, its number and its graph images. A graph
# image counts as drawn when enough of its upper part (the plot; the legend sits below) has the
# exact colour of one of its series; simple graphs name no colour and draw in 00C800.
WIDGETS_JS = """
const series = img => {
  const colours = [...new URL(img.src, location.href).searchParams]
    .filter(([k]) => /\\[color\\]$/.test(k)).map(([, v]) => v.toUpperCase());
  return colours.length ? colours : ['00C800'];
};
const plotPixels = img => {
  if (!img.complete || img.naturalWidth === 0) return -1;
  const canvas = document.createElement('canvas');
  canvas.width = img.naturalWidth;
  canvas.height = img.naturalHeight;
  const context = canvas.getContext('2d');
  context.drawImage(img, 0, 0);
  const wanted = new Set(series(img));
  const data = context.getImageData(0, 0, canvas.width, Math.floor(canvas.height * 0.65)).data;
  let count = 0;
  for (let i = 0; i < data.length; i += 4) {
    const hex = [data[i], data[i + 1], data[i + 2]]
      .map(c => c.toString(16).padStart(2, '0')).join('').toUpperCase();
    if (wanted.has(hex)) count++;
  }
  return count;
};
const text = e => e ? e.textContent.replace(/\\s+/g, ' ').trim() : '';
return [...document.querySelectorAll('.dashboard-grid-widget, .dashboard-grid-iterator')].map(w => {
  const iterator = w.parentElement.closest('.dashboard-grid-iterator');
  return {
    name: text(w.querySelector('h4')),
    iterator: iterator ? text(iterator.querySelector('h4')) : null,
    is_iterator: w.classList.contains('dashboard-grid-iterator'),
    loading: w.classList.contains('is-loading') || !!w.querySelector('.is-loading'),
    messages: [...w.querySelectorAll('.msg-bad, .msg-warning, .nothing-to-show')]
      .filter(m => m.closest('.dashboard-grid-widget, .dashboard-grid-iterator') === w).map(text),
    value: text(w.querySelector('.item-value-content')),
    rows: [...w.querySelectorAll('table.list-table tbody tr')].map(text).filter(t => t),
    images: w.classList.contains('dashboard-grid-widget')
      ? [...w.querySelectorAll('img')].map(plotPixels) : [],
  };
});
"""


def settled(widgets):
    """All expected widgets are there, none is loading, every image has arrived."""
    names = {w["name"] for w in widgets}
    if not set(expected.get("values", {})) | set(expected.get("graphs", {})) | set(expected.get("problems", {})) <= names:
        return False
    children = sum(1 for w in widgets if w["iterator"])
    wanted_children = sum(n for name, n in expected.get("graphs", {}).items()
                          if any(w["is_iterator"] and w["name"] == name for w in widgets))
    if children < wanted_children:
        return False
    return not any(w["loading"] or -1 in w["images"] for w in widgets)


options = webdriver.ChromeOptions()
profile = tempfile.mkdtemp(prefix="chromium-", dir=os.path.dirname(os.path.abspath(screenshot)))
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                 "--window-size=1800,1500", f"--user-data-dir={profile}"):
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
faults = []
try:
    driver.set_page_load_timeout(PATIENCE)
    driver.get(base + "/index.php")
    driver.find_element(By.ID, "name").send_keys(user)
    driver.find_element(By.ID, "password").send_keys(password)
    driver.find_element(By.ID, "enter").click()
    WebDriverWait(driver, PATIENCE).until(lambda d: "zabbix.php" in d.current_url)
    driver.get(f"{base}/zabbix.php?action=host.dashboard.view&hostid={hostid}&from=now-15m&to=now")
    # The time selector opens over the first row on a fresh profile: close it for the picture.
    for tab in driver.find_elements(By.CSS_SELECTOR, "li[aria-expanded='true'] a.btn-time"):
        tab.click()
    started = time.monotonic()
    if "page" in expected:
        # The dashboard's own page tabs, not 7.0's tabs of the host's dashboards above them.
        tab = ("//*[contains(concat(' ', normalize-space(@class), ' '), ' dashboard-navigation-tabs ')]"
               "//li[normalize-space(.)=$name]")
        WebDriverWait(driver, PATIENCE).until(
            lambda d: d.find_elements(By.XPATH, tab.replace("$name", json.dumps(expected["page"]))))
        driver.find_element(By.XPATH, tab.replace("$name", json.dumps(expected["page"]))).click()
        started = time.monotonic()
    widgets = []
    drawn_s = None
    deadline = time.monotonic() + PATIENCE
    while time.monotonic() < deadline:
        widgets = driver.execute_script(WIDGETS_JS)
        if settled(widgets):
            drawn_s = time.monotonic() - started
            break
        time.sleep(0.25)
    else:
        faults.append("the dashboard did not finish drawing in %d s: %s" % (PATIENCE, widgets))
    time.sleep(1)  # the last images are decoded; let them paint
    driver.save_screenshot(screenshot)

    # 6.0 titles the page with the dashboard's name; 7.0 titles it "Host dashboards" and names
    # the dashboard shown in its selected tab.
    tabs = driver.find_elements(By.CSS_SELECTOR,
                                ".host-dashboard-navigation-tabs .selected-tab span")
    title = (tabs[0] if tabs else driver.find_element(By.CSS_SELECTOR, "header h1")).text
    if title != expected["title"]:
        faults.append(f"the page is titled '{title}', expected '{expected['title']}'")
    for w in widgets:
        where = w["name"] + (f" (in {w['iterator']})" if w["iterator"] else "")
        faults += [f"{where} shows '{m}'" for m in w["messages"] if m]
        faults += [f"{where}: graph image {i + 1} has no series drawn"
                   for i, pixels in enumerate(w["images"]) if pixels < 20]
    for name, value in expected.get("values", {}).items():
        shown = [w["value"] for w in widgets if w["name"] == name]
        if shown != [value]:
            faults.append(f"{name} shows {shown}, expected '{value}'")
    for name, count in expected.get("graphs", {}).items():
        images = sum(len(w["images"]) for w in widgets if name in (w["name"], w["iterator"]))
        if images != count:
            faults.append(f"{name} has {images} graph images, expected {count}")
    for name, problems in expected.get("problems", {}).items():
        rows = [row for w in widgets if w["name"] == name for row in w["rows"]]
        if len(rows) != len(problems) or any(p not in row for p, row in zip(problems, rows)):
            faults.append(f"{name} lists {rows}, expected one row for each of {problems}, in that order")
finally:
    driver.quit()

if faults:
    sys.exit("\n".join(faults))
print(f"dashboard: {len(widgets)} widgets drawn in {drawn_s:.1f} s, screenshot in {screenshot}")
