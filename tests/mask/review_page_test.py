#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""The review page in Debian's chromium, headless: made from the LibriVox
readings, every clip loads and plays, keys drop two finds and keep a near
miss, the export applied with --labels bleeps exactly the kept ranges (read
back with sox), and words from a transcript stay text.

review_page_test.py ZENDRIK_MASK SCREENSHOT.png"""
import array
import json
import os
import re
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

MASK, SCREENSHOT = sys.argv[1], sys.argv[2]
READINGS = "/usr/share/pocketsphinx/test/data/librivox"
RATE = 16000
PAD = 0.0123457  # not whole milliseconds: the export must keep every digit
work = tempfile.mkdtemp(prefix="review-page-")


def run(*command):
    subprocess.run(command, check=True, cwd=work)


def samples(path):
    raw = subprocess.run(["sox", path, "-t", "s16", "-"], check=True, capture_output=True).stdout
    return array.array("h", raw)


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--autoplay-policy=no-user-gesture-required",
                 "--window-size=1100,1500", "--user-data-dir=" + tempfile.mkdtemp(dir=work)):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": work})
    return driver


def open_page(driver, name):
    driver.get("file://" + os.path.join(work, name))
    WebDriverWait(driver, 60).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))


run("sox", *(f"{READINGS}/sense_and_sensibility_01_austen_64kb-0{n}.wav" for n in (870, 880, 890, 920, 930)),
    "reading.wav")
# Said and sure, said and unsure at the strictest setting ("mister", "there").
with open(os.path.join(work, "words.txt"), "w") as words:
    words.write("dashwood\nselfish\namiable\nrespectable\nmister\nthere\n")
run(MASK, "reading.wav", "--dry-run", "-q", "--words", "words.txt", "--sensitivity", "0", "--pad", str(PAD),
    "--review", "page.html",
    "--report", "report.json")
report = json.load(open(os.path.join(work, "report.json")))
finds = sorted((p["mask_start"], p["mask_end"]) for w in report["words"] for p in w["places"])
near = sorted((p["start"] - PAD, p["end"] + PAD) for w in report["words"] for p in w["near_misses"])
assert len(finds) >= 4 and near and all(not p["bleeped"] for w in report["words"] for p in w["near_misses"]), report
page_bytes = os.path.getsize(os.path.join(work, "page.html"))

# Each clip starts where the page says it does: a burst at 2 s is heard 2 s in, whatever the encoder's delay.
run("sox", "-n", "-r", "44100", "-b", "16", "burst.wav", "synth", "0.01", "sine", "1000", "pad", "2", "2")
run(MASK, "burst.wav", "--dry-run", "-q", "--mask", "1.9-2.1", "--review", "burst.html")
page = open(os.path.join(work, "burst.html")).read()
clip = json.loads(re.search(r'id="data">(.*?)</script>', page).group(1))["items"][0]
decoded = subprocess.run(["ffmpeg", "-v", "error", "-i", clip["sound"], "-f", "s16le", "-ac", "1", "-ar", str(RATE), "-"],
                         check=True, capture_output=True).stdout
heard = next(i for i, sample in enumerate(array.array("h", decoded)) if abs(sample) > 3000)
assert abs(clip["clip_start"] + heard / RATE - 2.0) < 0.002, (clip["clip_start"], heard)
assert page_bytes < 50_000 * (len(finds) + len(near)), page_bytes

driver = browser()
try:
    open_page(driver, "page.html")
    audios = driver.find_elements(By.TAG_NAME, "audio")
    assert len(audios) == len(finds) + len(near)
    for audio in audios:
        played = driver.execute_async_script("""
            const [audio, done] = arguments;
            audio.muted = true;
            audio.addEventListener("timeupdate", () => { if (audio.currentTime > 0) done(audio.readyState); });
            audio.addEventListener("error", () => done("error"));
            audio.play().catch(e => done(String(e)));""", audio)
        assert played >= 2, played
        driver.execute_script("arguments[0].pause()", audio)

    body = driver.find_element(By.TAG_NAME, "body")
    # The first find is current: drop it and the next, walk on to the first near miss, keep it, export.
    body.send_keys("d", "n", "d", *["n"] * (len(finds) - 1), "k")
    driver.save_screenshot(SCREENSHOT)
    body.send_keys("e")
    exported = os.path.join(work, "reviewed.txt")
    WebDriverWait(driver, 60).until(lambda d: os.path.exists(exported) and open(exported).read().endswith("\n"))
    kept = finds[2:] + near[:1]

    # Markup in a transcript's word and in the word list is shown, never parsed.
    with open(os.path.join(work, "markup.json"), "w") as transcript:
        json.dump({"segments": [{"start": 0.9, "end": 1.6, "text": "x", "words": [
            {"word": " <script>alert(1)</script>", "start": 0.99, "end": 1.5}]}]}, transcript)
    run(MASK, "reading.wav", "--dry-run", "-q", "--transcript", "markup.json", "--word", "<script>alert(1)</script>",
        "--review", "markup.html")
    open_page(driver, "markup.html")
    assert len(driver.find_elements(By.TAG_NAME, "script")) == 2
    assert "</script" in driver.find_element(By.CLASS_NAME, "word").text
finally:
    driver.quit()

# 1100 Hz: within a range, no sample but the first is a zero of the tone.
run(MASK, "reading.wav", "bleeped.wav", "-q", "--labels", "reviewed.txt", "--frequency", "1100")
before, after = samples(os.path.join(work, "reading.wav")), samples(os.path.join(work, "bleeped.wav"))
assert len(before) == len(after)
changed = {i for i in range(len(before)) if before[i] != after[i]}
# Sample edges as the program rounds them, halves up, from the report's times.
edges = [(int(start * RATE + 0.5), int(end * RATE + 0.5)) for start, end in kept]
assert all(any(first <= i < end for first, end in edges) for i in changed)
assert all(first + 1 in changed and end - 1 in changed for first, end in edges), edges
print(f"review page: {page_bytes} bytes, {len(finds)} finds and {len(near)} near misses; kept {len(kept)}")
