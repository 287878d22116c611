#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
# Checks what zendrik-mask batch left in OUT_DIR for the files of IN_DIR
# masked with --mask 0.25-0.5 at 8000 Hz: every good output exact (sox reads
# both files: the samples outside the range equal, the plugin's tone within
# a step of the format inside), every damaged file recorded as refused, one
# record for each file and no temporary file left.
#   batch_check.py IN_DIR OUT_DIR GOOD DAMAGED
import json
import math
import os
import struct
import subprocess
import sys

in_dir, out_dir, good, damaged = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
START, END, RATE, FREQUENCY, LEVEL = 2000, 4000, 8000, 1000.0, 0.5


def samples(path):
    raw = subprocess.run(["sox", path, "-t", "raw", "-e", "signed-integer", "-b", "32", "-"], check=True,
                         capture_output=True).stdout
    return struct.unpack(f"<{len(raw) // 4}i", raw)


def fail(message):
    sys.exit(f"FAIL: {message}")


found_good = found_damaged = 0
for folder, _, names in os.walk(in_dir):
    for name in names:
        if name.startswith("."):
            continue
        relative = os.path.relpath(os.path.join(folder, name), in_dir)
        output = os.path.join(out_dir, relative)
        try:
            with open(output + ".zendrik.json", encoding="utf-8") as record_file:
                record = json.load(record_file)
        except FileNotFoundError:
            fail(f"no record for {relative}")
        if record["input"] != relative:
            fail(f"the record of {relative} names {record['input']}")
        if record["status"] != 0:
            found_damaged += 1
            if record["status"] != 2 or not record["message"] or os.path.exists(output):
                fail(f"{relative}: {record}")
            continue
        found_good += 1
        bits = int(subprocess.run(["soxi", "-b", output], check=True, capture_output=True, text=True).stdout)
        channels = int(subprocess.run(["soxi", "-c", output], check=True, capture_output=True, text=True).stdout)
        before, after = samples(os.path.join(in_dir, relative)), samples(output)
        if len(before) != len(after):
            fail(f"{relative}: {len(after)} samples, not {len(before)}")
        step = 2.0 ** -(bits - 1)
        for index, (was, now) in enumerate(zip(before, after)):
            frame = index // channels
            if START <= frame < END:
                tone = LEVEL * math.sin(2 * math.pi * FREQUENCY * (frame - START) / RATE)
                if abs(now / 2.0**31 - tone) > step:
                    fail(f"{relative}: frame {frame} holds {now / 2.0**31}, not the tone's {tone}")
            elif was != now:
                fail(f"{relative}: frame {frame} changed outside the range")

for folder, _, names in os.walk(out_dir):
    for name in names:
        if ".zendrik-mask." in name:
            fail(f"a temporary file is left: {os.path.join(folder, name)}")
records = sum(name.endswith(".zendrik.json") for _, _, names in os.walk(out_dir) for name in names)
if (found_good, found_damaged, records) != (good, damaged, good + damaged):
    fail(f"{found_good} good and {found_damaged} damaged files, {records} records; "
         f"wanted {good}, {damaged} and {good + damaged}")
print(f"{out_dir}: {good} outputs exact, {damaged} damaged files recorded")
