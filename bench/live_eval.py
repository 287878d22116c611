#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""bench/live_eval.sh's helper: scores bleeps against the listed words of
bench/words_eval.py's labelled speech and prints the tables for docs/live.md.

usage: live_eval.py cut SET_DIR MINUTES                    (each part's utterances that end by then)
       live_eval.py cues SET_DIR SPLIT                     (writes SET_DIR/SPLIT-utterances.srt)
       live_eval.py score SET_DIR SPLIT KIND FOUND LABELS   (KIND: mask report or live bleeps)
       live_eval.py report RUNS_TSV PACED_TXT

The plugin's bleeps do not say which word they stand for, and two listed
words said one after the other make one bleep. So both the plugin and
zendrik-mask are scored by bleeps against word times: where zendrik-mask,
given each utterance's text as a cue of its own (--transcript), places the
listed words in the sound.
"""
import array
import json
import os
import sys
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import words_eval  # noqa: E402


def merged(ranges):
    out = []
    for start, end in sorted(ranges):
        if out and start <= out[-1][1]:
            out[-1][1] = max(out[-1][1], end)
        else:
            out.append([start, end])
    return out


def cut(set_dir, minutes):
    """Each part cut after its last utterance to end within `minutes`, and
    a gap of silence, its labels and word counts with it."""
    counts = {}
    for part in ("tune", "held"):
        path = os.path.join(set_dir, part + ".json")
        info = json.load(open(path))
        info["utterances"] = [u for u in info["utterances"] if u["end"] <= float(minutes) * 60]
        info["seconds"] = info["utterances"][-1]["end"] + words_eval.GAP_SECONDS
        info["speech_seconds"] = sum(u["end"] - u["start"] for u in info["utterances"])
        json.dump(info, open(path, "w"))
        audio = words_eval.read_pcm(os.path.join(set_dir, part + ".wav"))
        with wave.open(os.path.join(set_dir, part + ".wav"), "wb") as w:
            w.setnchannels(1), w.setsampwidth(2), w.setframerate(words_eval.RATE)
            w.writeframes(array.array("h", audio[:round(info["seconds"] * words_eval.RATE)]).tobytes())
        counts[part] = {e: sum(1 for u in info["utterances"] for t in u["tokens"] if words_eval.matches(e, t))
                        for e in words_eval.SPOKEN + words_eval.NEVER}
        print(f"{part}: the first {info['seconds'] / 60:.1f} min, {len(info['utterances'])} utterances, "
              f"{sum(counts[part][e] for e in words_eval.SPOKEN)} listed words said")
    json.dump(counts, open(os.path.join(set_dir, "counts.json"), "w"))


def cues(set_dir, part):
    info = json.load(open(os.path.join(set_dir, part + ".json")))
    with open(os.path.join(set_dir, part + "-utterances.srt"), "w") as srt:
        for n, u in enumerate(info["utterances"], 1):
            srt.write(f"{n}\n{words_eval.clock(u['start'])} --> {words_eval.clock(u['end'])}\n"
                      f"{words_eval.caption(u['text'])}\n\n")


def places(report, whole=None):
    """(start, end) of every find; with `whole`, only those that are (True)
    or are not (False) a whole cue that the aligner could not place."""
    return [(p["start"], p["end"]) for w in json.load(open(report))["words"] for p in w["places"]
            if whole is None or p.get("whole_cue", False) == whole]


def bleeps(kind, path):
    if kind == "mask":
        return merged(places(path))
    rows = [line.split() for line in open(path) if not line.startswith("#")]
    return merged((float(r[0]), float(r[1])) for r in rows)


def overlap(a, b):
    return max(0.0, min(a[1], b[1]) - max(a[0], b[0]))


def score(set_dir, part, kind, found, labels):
    """A listed word is found when bleeps cover half of it; a bleep is a false
    alarm when it covers half of no listed word and is not half on one, unless
    its utterance says an inflection of a listed word (as words_eval counts).
    A word the aligner left as its whole cue is found by a bleep whose middle
    lies in the cue, as words_eval scores by utterance."""
    info = json.load(open(os.path.join(set_dir, part + ".json")))
    entries = open(os.path.join(set_dir, "words.txt")).read().split()
    counts = json.load(open(os.path.join(set_dir, "counts.json")))[part]
    words, whole = places(labels, False), places(labels, True)
    ranges = bleeps(kind, found)

    def inside(r, cue):
        return cue[0] <= (r[0] + r[1]) / 2 <= cue[1]

    hits = sum(1 for w in words if sum(overlap(w, r) for r in ranges) >= (w[1] - w[0]) / 2)
    hits += sum(1 for cue in whole if any(inside(r, cue) for r in ranges))
    alarms = 0
    for r in ranges:
        if any(overlap(w, r) >= min(w[1] - w[0], r[1] - r[0]) / 2 for w in words) or \
                any(inside(r, cue) for cue in whole):
            continue
        middle = (r[0] + r[1]) / 2
        said = [t for u in info["utterances"] if u["start"] <= middle <= u["end"] for t in u["tokens"]]
        if not any(words_eval.inflects(e, t) for e in entries for t in said):
            alarms += 1
    spoken = sum(counts[e] for e in words_eval.SPOKEN)
    return [part, hits, len(words) + len(whole), spoken, alarms, len(ranges), info["seconds"]]


def report(runs_tsv, paced_txt):
    # method delay part hits labelled spoken alarms bleeps seconds
    table = {}
    for line in open(runs_tsv):
        r = line.rstrip("\n").split("\t")
        table.setdefault((r[0], r[1]), {})[r[2]] = r
    lines = ["| | found, tuning | false alarms an hour, tuning | found, held out | "
             "false alarms an hour, held out |", "|---|---:|---:|---:|---:|"]
    names = {"mask": "`zendrik-mask`, whole file", "live": "zendrik live, {} s delay",
             "mask-words": "`zendrik-mask`, scored by word as `words_eval.sh` does"}
    order = sorted(table, key=lambda k: (k[0] != "mask", k[0] == "mask-words", float(k[1] or 0)))
    for method, delay in order:
        cells = []
        for part in ("tune", "held"):
            r = table[(method, delay)][part]
            hits, total, alarms, seconds = int(r[3]), int(r[4]), int(r[6]), float(r[8])
            cells += [f"{hits} / {total} = {100 * hits / total:.0f} %", f"{alarms * 3600 / seconds:.0f}"]
        lines.append(f"| {names[method].format(delay)} | " + " | ".join(cells) + " |")
    print("\n".join(lines))
    for (method, delay), runs in sorted(table.items()):
        print(f"  {method} {delay}: " + "; ".join(
            f"{p}: {r[7]} bleeps, {r[4]} of {r[5]} spoken words placed" for p, r in sorted(runs.items())))
    print()
    rows = [line.split() for line in open(paced_txt) if line.strip() and line.lstrip()[0].isdigit()]
    lines = ["| Delay | Lag: median | 99th percentile | maximum | Bleeps too late or missed (of the "
             "freewheeling run's) | Recogniser's thread | `run()` |", "|---|---|---|---|---|---|---|"]
    for r in rows:
        lines.append(f"| {r[0]} s | {r[2]} s | {r[4]} s | {r[6]} s | {r[8]} of {r[10]} | "
                     f"{r[11]} % of a core | {r[13]} % |")
    print("\n".join(lines))


if __name__ == "__main__":
    if sys.argv[1] == "cut":
        cut(*sys.argv[2:4])
    elif sys.argv[1] == "cues":
        cues(*sys.argv[2:4])
    elif sys.argv[1] == "score":
        print("\t".join(str(x) for x in score(*sys.argv[2:7])))
    elif sys.argv[1] == "report":
        report(*sys.argv[2:4])
