#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""bench/words_eval.sh's helper: builds the labelled speech, scores the words
each method found and writes the table and plot into docs/performance.md.

usage: words_eval.py build SET_DIR
       words_eval.py score SET_DIR SPLIT KIND FOUND         (appends to SET_DIR/scores.tsv)
       words_eval.py report SET_DIR RUNS_TSV DOCS_DIR
       words_eval.py score-bleeps SET_DIR SPLIT FOUND          (a list no one says: every find is false)
       words_eval.py score-text SET_DIR SPLIT KIND FOUND
       words_eval.py report-text SET_DIR RUNS_TSV DOCS_DIR
KIND: mask (zendrik-mask's --report JSON) or decoder (pocketsphinx_continuous -time yes);
for the text modes, mask or cues (every cue holding a listed word bleeped whole, from SPLIT.srt).
"""
import array
import glob
import gzip
import json
import math
import os
import random
import re
import statistics
import subprocess
import sys
import wave

RATE = 16000
GAP_SECONDS = 1.0
ALLISON = "/usr/share/asterisk/sounds/en_US_f_Allison"
ALLISON_TEXT = "/usr/share/doc/asterisk-core-sounds-en/core-sounds-en.txt.gz"
TESTDATA = "/usr/share/pocketsphinx/test/data"
# Spoken words, chosen to be said in both parts; the counts come from the text.
SPOKEN = ["please", "conference", "message", "number", "enter", "pound", "call", "volume",
          "dial", "extension", "again", "record", "caller", "password", "seconds", "sorry",
          "greeting", "mailbox", "folder", "directory", "person", "thank"]
# Swear words that no recording says.
NEVER = ["damn", "hell", "crap", "shit", "bloody", "bastard", "piss", "bitch"]
# Words said alone, each the name of a picture in a children's program: Tux
# Paint's animal stamps described aloud (tuning), KTuberling's objects named
# aloud (held out, another voice). The recording's name when it is the word
# said; names of two words, or whose recording may say another word than its
# text, are left out.
TUXPAINT = "/usr/share/tuxpaint/stamps"
KTUBERLING = "/usr/share/ktuberling/sounds/en"
TUXPAINT_LEFT_OUT = {"chimp", "mountaingoat", "wildboar", "nandou", "xanthia"}
KTUBERLING_LEFT_OUT = {"palmtree", "fallingstar", "moonwalker"}
SPELLED = {"tucan": "toucan", "sphynx": "sphinx", "broccolli": "broccoli"}
# A heard word that is one of these endings away from a listed word is an
# inflection (messages, called): neither a find nor a false alarm.
ENDINGS = ("s", "es", "'s", "d", "ed", "ing", "er", "ers")


def tokens(text):
    text = text.lower().replace("#", " pound ").replace("*", " star ")
    text = re.sub(r"\[[^]]*\]", " ", text)
    return [t.strip("'") for t in re.findall(r"[a-z']+", text) if t.strip("'")]


def matches(entry, word):
    return word.startswith(entry[:-1]) if entry.endswith("*") else word == entry


def inflects(entry, word):
    stem = entry.rstrip("*")
    bases = (stem, stem[:-1]) if stem.endswith("e") else (stem,)
    return any(word == b + e for b in bases for e in ENDINGS)


def read_pcm(path):
    with wave.open(path) as w:
        assert w.getframerate() == RATE and w.getnchannels() == 1 and w.getsampwidth() == 2
        samples = array.array("h")
        samples.frombytes(w.readframes(w.getnframes()))
        return samples


def utterances(tmp):
    """(speaker, file name, 16 kHz samples, text) for every recording."""
    texts = {}
    for line in gzip.open(ALLISON_TEXT, "rt"):
        name, sep, text = line.partition(": ")
        if sep and not line.startswith(";") and tokens(text):
            texts[name.strip()] = text.strip()
    for name in sorted(texts):
        source = os.path.join(ALLISON, name + ".g722")
        if not os.path.exists(source):
            continue
        pcm = os.path.join(tmp, "decoded.wav")
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "g722", "-i", source,
                        "-ar", str(RATE), "-ac", "1", "-c:a", "pcm_s16le", pcm], check=True)
        yield "asterisk-en-allison", name, read_pcm(pcm), texts[name]
    for speaker, folder in (("librivox-reader", "librivox"), ("cards-speaker", "cards")):
        transcription = glob.glob(os.path.join(TESTDATA, folder, "*.transcription")) or \
            [os.path.join(TESTDATA, folder, "transcription")]
        for line in open(transcription[0]):
            m = re.match(r"<s>(.*)</s>\s*\((\S+)\)", line.strip())
            if m:
                yield speaker, m.group(2), read_pcm(os.path.join(TESTDATA, folder, m.group(2) + ".wav")), \
                    m.group(1).strip()


def build(set_dir):
    """tune.wav and held.wav (16 kHz mono, a second of silence around each
    utterance), their labels and the word list with its counts. Every second
    prompt of the main speaker is held out, and so are the other speakers."""
    parts = {"tune": (array.array("h"), []), "held": (array.array("h"), [])}
    allison_index = 0
    for speaker, name, samples, text in utterances(set_dir):
        held = speaker != "asterisk-en-allison" or allison_index % 2 == 1
        allison_index += speaker == "asterisk-en-allison"
        audio, labels = parts["held" if held else "tune"]
        audio.extend(array.array("h", bytes(int(GAP_SECONDS * RATE) * 2)))
        start = len(audio) / RATE
        audio.extend(samples)
        labels.append({"start": start, "end": len(audio) / RATE, "speaker": speaker, "name": name,
                       "text": text, "tokens": tokens(text)})
    counts = {}
    for part, (audio, labels) in parts.items():
        audio.extend(array.array("h", bytes(int(GAP_SECONDS * RATE) * 2)))
        with wave.open(os.path.join(set_dir, part + ".wav"), "wb") as w:
            w.setnchannels(1), w.setsampwidth(2), w.setframerate(RATE)
            w.writeframes(audio.tobytes())
        speech = sum(v * v for u in labels for v in audio[round(u["start"] * RATE):round(u["end"] * RATE)])
        speech_samples = sum(round(u["end"] * RATE) - round(u["start"] * RATE) for u in labels)
        info = {"seconds": len(audio) / RATE, "speech_seconds": speech_samples / RATE,
                "speech_rms_db": 10 * math.log10(speech / speech_samples / 32768**2),
                "utterances": labels}
        json.dump(info, open(os.path.join(set_dir, part + ".json"), "w"))
        counts[part] = {e: sum(1 for u in labels for t in u["tokens"] if matches(e, t)) for e in SPOKEN + NEVER}
        speakers = {}
        for u in labels:
            speakers[u["speaker"]] = speakers.get(u["speaker"], 0) + 1
        print(f"{part}: {info['seconds'] / 60:.1f} min ({info['speech_seconds'] / 60:.1f} min of speech), "
              f"{len(labels)} utterances: " + ", ".join(f"{s} {n}" for s, n in speakers.items()) +
              f"; speech at {info['speech_rms_db']:.1f} dBFS RMS")
    for e in SPOKEN + NEVER:
        assert (counts["tune"][e] > 0 and counts["held"][e] > 0) == (e in SPOKEN), e
    write_texts(set_dir)
    open(os.path.join(set_dir, "words.txt"), "w").write("\n".join(SPOKEN + NEVER) + "\n")
    json.dump(counts, open(os.path.join(set_dir, "counts.json"), "w"))
    build_alone(set_dir)
    print("words (tuning + held out): " + ", ".join(
        f"{e} {counts['tune'][e]}+{counts['held'][e]}" for e in SPOKEN + NEVER))


def alone_recordings(part):
    """(speaker, word, path) of each word said alone in `part`."""
    if part == "alone-tune":
        paths = sorted(glob.glob(os.path.join(TUXPAINT, "animals", "**", "*_desc.ogg"), recursive=True))
        names = [(os.path.basename(p)[:-len("_desc.ogg")], p) for p in paths]
        speaker, left_out = "tuxpaint-describer", TUXPAINT_LEFT_OUT
    else:
        paths = sorted(glob.glob(os.path.join(KTUBERLING, "*.ogg")))
        names = [(os.path.basename(p)[:-len(".ogg")].split("_")[-1], p) for p in paths]
        speaker, left_out = "ktuberling-namer", KTUBERLING_LEFT_OUT
    for name, path in names:
        if name not in left_out:
            yield speaker, SPELLED.get(name, name), path


def build_alone(set_dir):
    """alone-tune.wav and alone-held.wav: single words, each with a second of
    silence before and after, and alone-words.txt, their words and the
    words never said."""
    counts = json.load(open(os.path.join(set_dir, "counts.json")))
    words = []
    for part in ("alone-tune", "alone-held"):
        audio, labels = array.array("h"), []
        for speaker, word, path in alone_recordings(part):
            pcm = os.path.join(set_dir, "decoded.wav")
            subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", path, "-ar", str(RATE), "-ac", "1",
                            "-c:a", "pcm_s16le", pcm], check=True)
            audio.extend(array.array("h", bytes(int(GAP_SECONDS * RATE) * 2)))
            start = len(audio) / RATE
            audio.extend(read_pcm(pcm))
            labels.append({"start": start, "end": len(audio) / RATE, "speaker": speaker, "name": word,
                           "text": word, "tokens": [word]})
        audio.extend(array.array("h", bytes(int(GAP_SECONDS * RATE) * 2)))
        with wave.open(os.path.join(set_dir, part + ".wav"), "wb") as w:
            w.setnchannels(1), w.setsampwidth(2), w.setframerate(RATE)
            w.writeframes(audio.tobytes())
        info = {"seconds": len(audio) / RATE, "utterances": labels}
        json.dump(info, open(os.path.join(set_dir, part + ".json"), "w"))
        said = [u["name"] for u in labels]
        words += said
        counts[part] = {e: said.count(e) for e in said + NEVER}
        print(f"{part}: {len(labels)} words said alone by {labels[0]['speaker']}, {info['seconds'] / 60:.1f} min")
    open(os.path.join(set_dir, "alone-words.txt"), "w").write("\n".join(sorted(set(words)) + NEVER) + "\n")
    json.dump(counts, open(os.path.join(set_dir, "counts.json"), "w"))


def caption(text):
    """An utterance's text as a caption writes it: notes left out, keys spelled."""
    return " ".join(re.sub(r"\[[^]]*\]", " ", text).replace("#", " pound ").replace("*", " star ").split())


def clock(seconds):
    ms = round(seconds * 1000)
    return f"{ms // 3600000:02d}:{ms // 60000 % 60:02d}:{ms // 1000 % 60:02d},{ms % 1000:03d}"


def write_texts(set_dir):
    """SPLIT.srt, cues of two or three utterances with each edge moved at
    random by up to half a second, and SPLIT.txt, the same text as plain
    paragraphs without times."""
    rng = random.Random(25)
    for part in ("tune", "held"):
        info = json.load(open(os.path.join(set_dir, part + ".json")))
        utterances, cues = info["utterances"], []
        while utterances:
            group = utterances[:rng.choice((2, 3))]
            utterances = utterances[len(group):]
            start = max(0.0, group[0]["start"] + rng.uniform(-0.5, 0.5))
            end = max(start + 0.1, group[-1]["end"] + rng.uniform(-0.5, 0.5))
            cues.append((start, end, " ".join(caption(u["text"]) for u in group)))
        with open(os.path.join(set_dir, part + ".srt"), "w") as srt:
            for n, (start, end, text) in enumerate(cues, 1):
                srt.write(f"{n}\n{clock(start)} --> {clock(end)}\n{text}\n\n")
        with open(os.path.join(set_dir, part + ".txt"), "w") as txt:
            txt.write("\n\n".join(text for _, _, text in cues) + "\n")
        json.dump(cues, open(os.path.join(set_dir, part + "-cues.json"), "w"))


def text_finds(set_dir, part, kind, path):
    """(entry, start, end) of each find, and the length of each bleep."""
    entries = open(os.path.join(set_dir, "words.txt")).read().split()
    if kind == "mask":
        places = [(w["word"], p) for w in json.load(open(path))["words"] for p in w["places"]]
        # A bleep is a range: finds that share a whole cue are one.
        ranges = {(p["mask_start"], p["mask_end"]) for _, p in places}
        return [(word, p["start"], p["end"]) for word, p in places], [end - start for start, end in ranges]
    finds, lengths = [], []
    for start, end, text in json.load(open(os.path.join(set_dir, part + "-cues.json"))):
        here = [(e, start, end) for t in tokens(text) for e in entries if matches(e, t)]
        finds += here
        lengths += [end - start] if here else []
    return finds, lengths


def score_text(set_dir, part, kind, path):
    """A find is a hit for the first spoken instance of its word, not yet
    found, in an utterance that holds its middle (as the finder's are
    scored) or that its bleep overlaps by half the word's share of it or
    more: a whole cue covers every utterance it holds."""
    info = json.load(open(os.path.join(set_dir, part + ".json")))
    counts = json.load(open(os.path.join(set_dir, "counts.json")))[part]
    finds, lengths = text_finds(set_dir, part, kind, path)
    used, hits, alarms = {}, 0, 0
    for entry, start, end in finds:
        hit = False
        for i, u in enumerate(info["utterances"]):
            overlap = min(end, u["end"]) - max(start, u["start"])
            share = (u["end"] - u["start"]) / max(len(u["tokens"]), 1)
            spoken = sum(1 for t in u["tokens"] if matches(entry, t))
            inside = u["start"] <= (start + end) / 2 <= u["end"]
            if (inside or overlap >= share / 2) and used.get((entry, i), 0) < spoken:
                used[(entry, i)] = used.get((entry, i), 0) + 1
                hit = True
                break
        if hit:
            hits += 1
        elif not any(u["start"] <= (start + end) / 2 <= u["end"] and any(inflects(entry, t) for t in u["tokens"])
                     for u in info["utterances"]):
            alarms += 1
    spoken_total = sum(counts[e] for e in SPOKEN)
    lengths.sort()
    median = statistics.median(lengths) if lengths else 0
    p95 = lengths[min(len(lengths) - 1, int(0.95 * len(lengths)))] if lengths else 0
    return [part, hits, spoken_total, alarms, info["seconds"], f"{median:.2f}", f"{p95:.2f}"]


def report_text(set_dir, runs_tsv, docs):
    # bed mode part hits spoken alarms seconds median p95 wall_s
    rows = [line.rstrip("\n").split("\t") for line in open(runs_tsv) if line.strip()]
    modes = {"cues": "subtitles, whole cues (as before)", "aligned": "subtitles, word-exact (`--transcript "
             "SPLIT.srt`)", "text": "plain text (`--transcript SPLIT.txt`)"}
    lines = ["| bed | mode | found, tuning | false alarms an hour, tuning | found, held out | "
             "false alarms an hour, held out | bleep median / 95th percentile, held out (s) | × real time |",
             "|---|---|---:|---:|---:|---:|---:|---:|"]
    table = {}
    for r in rows:
        table.setdefault((r[0], r[1]), {})[r[2]] = r
    for (bed, mode) in sorted(table, key=lambda k: (k[0] != "clean", list(modes).index(k[1]))):
        runs, cells = table[(bed, mode)], []
        for part in ("tune", "held"):
            r = runs[part]
            hits, spoken, alarms, seconds = int(r[3]), int(r[4]), int(r[5]), float(r[6])
            cells += [f"{hits} / {spoken} = {100 * hits / spoken:.1f} %", f"{alarms * 3600 / seconds:.1f}"]
        held = runs["held"]
        wall = sum(float(runs[p][9]) for p in runs)
        speed = "-" if mode == "cues" else f"{sum(float(runs[p][6]) for p in runs) / wall:.1f}"
        lines.append(f"| {bed} | {modes[mode]} | " + " | ".join(cells) + f" | {held[7]} / {held[8]} | {speed} |")
    table_md = "\n".join(lines)
    print(table_md)
    begin, end = "<!-- bench/words_eval.sh text: begin -->", "<!-- bench/words_eval.sh text: end -->"
    section = "\n".join([
        begin,
        "## Subtitles and transcripts aligned, measured",
        "",
        "`bench/words_eval.sh` with `WORDS_EVAL_MODES=text` (it replaces only this section): the",
        "speech and the list of the section above, its parts as there. Each part's text as SubRip",
        "cues of two or three utterances, every cue edge moved at random by up to half a second,",
        "and as plain paragraphs (the same text, no times). `zendrik-mask IN --dry-run --pad 0",
        "--jobs 2 --words LIST --transcript SPLIT.srt|SPLIT.txt --report FILE`; \"whole cues\" is",
        "what a cue holding a listed word bleeped before: all of it, worked out from the cues.",
        "A find is right when its bleep overlaps an utterance whose text holds the word (each",
        "spoken word found once); bleep lengths are each range bleeped, a whole cue once (cues",
        "of three long prompts run past a minute here, which no film has, and are not",
        "aligned). The aligner's fit thresholds were first set on two",
        "of the LibriVox readings, which lie in the held-out part, then checked on the tuning",
        "part: the held-out figures are not quite blind for those five readings.",
        "",
        table_md,
        end,
    ])
    page = os.path.join(docs, "performance.md")
    text = open(page).read()
    if begin in text:
        text = text[:text.index(begin)] + section + text[text.index(end) + len(end):]
    else:
        text = text.rstrip("\n") + "\n\n" + section + "\n"
    open(page, "w").write(text)


def found_words(kind, path, entries):
    """(list entry, heard word, start, end) of every find."""
    if kind == "mask":
        for w in json.load(open(path))["words"]:
            for p in w["places"]:
                yield w["word"], w["word"], p["start"], p["end"], p.get("confidence")
        return
    for line in open(path):
        fields = line.split()
        if len(fields) != 4 or not re.match(r"^[\d.]+$", fields[1]):
            continue
        heard = re.sub(r"\(\d+\)$", "", fields[0]).lower()
        for e in entries:
            if matches(e, heard):
                yield e, heard, float(fields[1]), float(fields[2]), float(fields[3])


def list_of(set_dir, part):
    return os.path.join(set_dir, "alone-words.txt" if part.startswith("alone") else "words.txt")


def score(set_dir, part, kind, path):
    info = json.load(open(os.path.join(set_dir, part + ".json")))
    entries = open(list_of(set_dir, part)).read().split()
    spoken_entries = [e for e in entries if e not in NEVER]
    counts = json.load(open(os.path.join(set_dir, "counts.json")))[part]
    hits, false_alarms, used = {}, {}, {}
    # Each find's confidence and whether it was right, for the report's
    # look at how well the confidence tells them apart.
    finds = open(os.path.join(set_dir, "finds.tsv"), "a")
    run = os.environ.get("WORDS_EVAL_RUN", "-")
    for entry, heard, start, end, confidence in found_words(kind, path, entries):
        middle = (start + end) / 2
        inside = [u for u in info["utterances"] if u["start"] <= middle <= u["end"]]
        said = inside[0]["tokens"] if inside else []
        key = (entry, id(inside[0]) if inside else None)
        spoken = sum(1 for t in said if matches(entry, t))
        if used.get(key, 0) < spoken:
            used[key] = used.get(key, 0) + 1
            hits[entry] = hits.get(entry, 0) + 1
            finds.write(f"{run}\t{part}\t{confidence}\thit\n")
        elif spoken == 0 and any(inflects(entry, t) for t in said):
            pass
        else:
            false_alarms[entry] = false_alarms.get(entry, 0) + 1
            finds.write(f"{run}\t{part}\t{confidence}\tfalse\n")
    spoken_total = sum(counts.get(e, 0) for e in spoken_entries)
    missed = ",".join(f"{e}:{hits.get(e, 0)}/{counts[e]}" for e in spoken_entries if hits.get(e, 0) < counts.get(e, 0))
    alarms = ",".join(f"{e}:{n}" for e, n in sorted(false_alarms.items(), key=lambda x: -x[1]))
    return [part, sum(hits.values()), spoken_total, sum(false_alarms.values()), info["seconds"],
            missed or "-", alarms or "-"]


def score_bleeps(set_dir, part, path):
    """A list whose words no one says (the shipped profanity list over the
    prompts): every find is a false bleep, unless the utterance it falls in
    does say a word the entry matches. Counted by the word heard."""
    info = json.load(open(os.path.join(set_dir, part + ".json")))
    by_word, said = {}, 0
    for w in json.load(open(path))["words"]:
        for p in w["places"]:
            middle = (p["start"] + p["end"]) / 2
            inside = [u for u in info["utterances"] if u["start"] <= middle <= u["end"]]
            if inside and any(matches(w["word"], t) for t in inside[0]["tokens"]):
                said += 1
                continue
            heard = p.get("heard") or w["word"]
            by_word[heard] = by_word.get(heard, 0) + 1
    words = ",".join(f"{h}:{n}" for h, n in sorted(by_word.items(), key=lambda x: (-x[1], x[0])))
    return [part, said, 0, sum(by_word.values()), info["seconds"], "-", words or "-"]


def list_groups(path=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "mask", "lists",
                                  "profanity.txt")):
    """The shipped list's groups: (name, entries), by their '# Name: ...' headings."""
    groups = []
    for line in open(path):
        line = line.strip()
        heading = line[1:].split(":")[0].strip()
        if line.startswith("#") and ":" in line and len(heading.split()) <= 3 and "SPDX" not in heading:
            groups.append((heading, []))
        elif line and not line.startswith("#") and groups:
            groups[-1][1].append(line.split()[0])
    return groups


def group_of(heard, groups):
    for name, entries in groups:
        if any(matches(e, heard) for e in entries):
            return name
    return "?"


def bleeps_table(table):
    """The shipped list over speech where no one swears: false bleeps an hour, by bed and by group."""
    groups = list_groups()
    lines = ["| bed | false bleeps, tuning | an hour, tuning | false bleeps, held out | an hour, held out | "
             "by word, held out |", "|---|---:|---:|---:|---:|---|"]
    group_lines = ["| group | " + " | ".join(f"{bed}, {p}" for bed in ("clean", "pink") for p in ("tuning", "held out"))
                   + " |", "|---|" + "---:|" * 4]
    per_group = {}
    for (bed, method, _), runs in sorted(table.items()):
        if method != "profanity":
            continue
        cells = []
        for part in ("tune", "held"):
            r = runs[part]
            alarms, seconds = int(r[6]), float(r[7])
            cells += [str(alarms), f"{alarms * 3600 / seconds:.0f}"]
            for item in ([] if r[11] == "-" else r[11].split(",")):
                heard, n = item.rsplit(":", 1)
                key = (group_of(heard, groups), bed, part)
                per_group[key] = per_group.get(key, 0) + int(n)
            per_group[("seconds", bed, part)] = seconds
        lines.append(f"| {bed} | " + " | ".join(cells) + f" | {runs['held'][11].replace(',', ', ')} |")
    for name, _ in groups:
        cells = []
        for bed in ("clean", "pink"):
            for part in ("tune", "held"):
                seconds = per_group.get(("seconds", bed, part))
                n = per_group.get((name, bed, part), 0)
                cells.append("-" if not seconds else f"{n * 3600 / seconds:.0f}")
        group_lines.append(f"| {name} | " + " | ".join(cells) + " |")
    return "\n".join(lines), "\n".join(group_lines)


def alone_table(table):
    """Words said alone: found and false alarms an hour, tuning and held out."""
    lines = ["| method | setting | found, tuning (Tux Paint) | false alarms an hour, tuning | "
             "found, held out (KTuberling) | false alarms an hour, held out |", "|---|---:|---:|---:|---:|---:|"]
    for key in sorted((k for k in table if k[0] == "alone"), key=lambda k: (k[1] != "finder", float(k[2] or 0))):
        cells = []
        for part in ("alone-tune", "alone-held"):
            r = table[key][part]
            hits, spoken, alarms, seconds = int(r[4]), int(r[5]), int(r[6]), float(r[7])
            cells += [f"{hits} / {spoken} = {100 * hits / spoken:.0f} %", f"{alarms * 3600 / seconds:.0f}"]
        method = "`zendrik-mask`" if key[1] == "finder" else "`pocketsphinx_continuous`, language model alone"
        setting = f"--sensitivity {key[2]}" if key[2] else "defaults"
        lines.append(f"| {method} | {setting} | " + " | ".join(cells) + " |")
    return "\n".join(lines)


def confidence_table(set_dir):
    rows = [line.rstrip("\n").split("\t") for line in open(os.path.join(set_dir, "finds.tsv"))]
    default = [(float(r[2]), r[3] == "hit") for r in rows
               if r[0].endswith("finder 0.5") and not r[0].startswith("alone") and r[2] not in ("None", "")]
    hits = [c for c, hit in default if hit]
    false = [c for c, hit in default if not hit]
    lines = ["| confidence at least | true finds | false alarms |", "|---:|---:|---:|"]
    for least in (0.2, 0.5, 0.8, 0.95):
        h = sum(c >= least for c in hits)
        f = sum(c >= least for c in false)
        lines.append(f"| {least} | {h} of {len(hits)} ({100 * h / max(len(hits), 1):.0f} %) | "
                     f"{f} of {len(false)} ({100 * f / max(len(false), 1):.0f} %) |")
    return "\n".join(lines)


def report(set_dir, runs_tsv, docs):
    rows = [line.rstrip("\n").split("\t") for line in open(runs_tsv) if line.strip()]
    # condition method setting part hits spoken alarms seconds wall_s peak_kib missed alarms_by_word
    table = {}
    for r in rows:
        key = (r[0], r[1], r[2])
        table.setdefault(key, {})[r[3]] = r
    methods = ["finder", "spotting", "decoding"]
    bleeps_md, groups_md = bleeps_table(table)
    alone_md = alone_table(table)
    table = {k: v for k, v in table.items() if k[1] in methods and k[0] != "alone"}
    rows = [r for r in rows if r[1] in methods]
    order = sorted(table, key=lambda k: (k[0] != "clean", methods.index(k[1]), float(k[2] or 0)))
    lines = ["| bed | method | setting | found, tuning set | false alarms an hour, tuning | "
             "found, held out | false alarms an hour, held out | × real time | peak MB |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    plot = {}
    for key in order:
        runs = table[key]
        cells = []
        for part in ("tune", "held"):
            r = runs[part]
            hits, spoken, alarms, seconds = int(r[4]), int(r[5]), int(r[6]), float(r[7])
            cells += [f"{hits} / {spoken} = {100 * hits / spoken:.0f} %", f"{alarms * 3600 / seconds:.0f}"]
            plot.setdefault((key[0], key[1], part), []).append((alarms * 3600 / seconds, 100 * hits / spoken))
        audio = sum(float(runs[p][7]) for p in runs)
        # zendrik-mask runs the parts one after the other, the decoder both at once.
        walls = [float(runs[p][8]) for p in runs]
        wall = max(walls) if key[1] == "decoding" else sum(walls)
        peak = max(int(runs[p][9]) for p in runs) / 1024
        method = {"finder": "`zendrik-mask`", "spotting": "`zendrik-mask` before, keyword spotting",
                  "decoding": "`pocketsphinx_continuous`, language model alone"}[key[1]]
        setting = "defaults" if key[1] == "decoding" else f"--sensitivity {key[2]}"
        lines.append(f"| {key[0]} | {method} | {setting} | " + " | ".join(cells) +
                     f" | {audio / wall:.1f} | {peak:.0f} |")
    table_md = "\n".join(lines)
    print(table_md)
    confidence_md = confidence_table(set_dir)
    print(confidence_md)
    print(bleeps_md)
    print(groups_md)
    print(alone_md)
    print("\nmissed and false alarms by word, per run:")
    for r in rows:
        print(f"  {r[0]} {r[1]} {r[2]} {r[3]}: missed {r[10]}; false alarms {r[11]}")

    info = {p: json.load(open(os.path.join(set_dir, p + ".json"))) for p in ("tune", "held")}
    counts = json.load(open(os.path.join(set_dir, "counts.json")))
    speakers = {}
    for p in info:
        for u in info[p]["utterances"]:
            speakers.setdefault(u["speaker"], [0, 0.0])
            speakers[u["speaker"]][0] += 1
            speakers[u["speaker"]][1] += u["end"] - u["start"]
    minutes = sum(i["seconds"] for i in info.values()) / 60
    word_counts = ", ".join(f"`{e}` {counts['tune'][e] + counts['held'][e]}" for e in SPOKEN)
    total = sum(counts["tune"][e] + counts["held"][e] for e in SPOKEN)

    png = os.path.join(docs, "performance-words.png")
    dat = os.path.join(set_dir, "plot.dat")
    series = sorted(plot, key=lambda k: (methods.index(k[1]), k[0] != "clean", k[2] != "tune"))
    with open(dat, "w") as f:
        for k in series:
            f.write(f"# {k}\n" + "".join(f"{max(x, 1)} {y}\n" for x, y in sorted(plot[k])) + "\n\n")
    names = {"tune": "tuning set", "held": "held out"}
    plots = []
    for i, (condition, method, part) in enumerate(series):
        title = {"finder": "zendrik-mask", "spotting": "keyword spotting (before)",
                 "decoding": "language model alone"}[method] + f", {condition}, {names[part]}"
        style = "linespoints" if method == "finder" else "points pointsize 2"
        dash = "dt 1" if part == "tune" else "dt 2"
        colour = {("finder", "clean"): 1, ("finder", "music"): 2, ("decoding", "clean"): 3,
                  ("decoding", "music"): 4, ("spotting", "clean"): 5, ("spotting", "music"): 6}[(method, condition)]
        plots.append(f"'{dat}' index {i} using 1:2 with {style} {dash} lc {colour} "
                     f"pt {6 if part == 'tune' else 7} title '{title}'")
    script = f"""
set terminal pngcairo size 900,680
set output '{png}'
set xlabel 'false alarms an hour (log scale; none an hour is drawn at 1)'
set ylabel 'spoken words found (%)'
set yrange [0:100]
set logscale x
set xrange [1:*]
set key below
set grid
plot {', '.join(plots)}
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)

    begin, end = "<!-- bench/words_eval.sh: begin -->", "<!-- bench/words_eval.sh: end -->"
    section = "\n".join([
        begin,
        "## zendrik-mask's word finder, measured",
        "",
        "`bench/words_eval.sh` (run apart, it replaces only this section): real",
        "recorded speech whose text is known, from Debian packages: the Asterisk",
        "prompts of `asterisk-core-sounds-en-g722` (texts in `asterisk-core-sounds-en`),",
        "the LibriVox readings and the card names of `pocketsphinx-testdata`;",
        f"{minutes:.1f} minutes, utterances joined with a second of silence, 48 kHz stereo.",
        "Speakers: " + ", ".join(f"{s} ({n} utterances, {sec / 60:.1f} min)" for s, (n, sec) in speakers.items()) + ".",
        "Every second prompt of the main speaker, and the other speakers, are held",
        f"out ({info['held']['seconds'] / 60:.1f} min; tuning set {info['tune']['seconds'] / 60:.1f} min).",
        f"The list: {len(SPOKEN)} spoken words, {total} times in all ({word_counts}),",
        "and " + ", ".join(f"`{e}`" for e in NEVER) + ", never spoken.",
        "",
        "A find counts by where its middle falls: inside an utterance whose text",
        "holds the word it is found (at most as many times as the text holds it),",
        "an inflection (`messages` for `message`) counts neither way, anything else",
        "is a false alarm. `zendrik-mask IN --dry-run --pad 0 --jobs 2 --words LIST",
        "--sensitivity S --report FILE`. Baselines: PocketSphinx decoding with its",
        "general English language model alone (`pocketsphinx_continuous -time yes`,",
        "Debian's `pocketsphinx`, its defaults, same acoustic model and dictionary)",
        "on the 16 kHz mono audio, the two parts in two processes at once, its",
        "words matched to the list in the same way; and zendrik-mask as it was",
        "before it decoded, spotting the listed words by keyword (commit be2cb66). Speed is audio seconds a wall",
        "second over both parts, peak memory the largest process (`/usr/bin/time`).",
        "\"music\": the same speech over the music-on-hold of",
        "`asterisk-moh-opsound-wav`, 15 dB below the voice (RMS over the speech).",
        "The machine's two cores are shared with other work, which slows both",
        "methods by as much again at times: compare speeds within one run.",
        "",
        table_md,
        "",
        "The shipped list, `--words profanity` at the default sensitivity, over the same",
        "speech, in which no one swears, clean and with pink noise at -60 dBFS RMS under",
        "the whole recording (`sox synth pinknoise`, a quiet room's floor in the pauses):",
        "every find is a false bleep.",
        "",
        bleeps_md,
        "",
        "The same false bleeps an hour by the list's group (the groups of",
        "`tools/mask/lists/profanity.txt`):",
        "",
        groups_md,
        "",
        "Words said alone, each with a second of silence around it (an exclamation, a",
        "one-word answer): the animals of `tuxpaint-stamps-default` named aloud",
        "(`*_desc.ogg`, 61 words, tuning) and the objects of `ktuberling-data`",
        "(`sounds/en`, 69 words, held out, never tuned on), other voices than above;",
        "names of two words left out. One file a part, the list every word of both",
        "parts and the words never said; a find counts as above.",
        "",
        alone_md,
        "",
        "How well the confidence shown in labels and reports tells true finds",
        "from false ones, for zendrik-mask at its default sensitivity (both parts,",
        "both beds): how many finds of each kind have at least that confidence.",
        "",
        confidence_md,
        "",
        "![spoken words found against false alarms an hour](performance-words.png)",
        end,
    ])
    page = os.path.join(docs, "performance.md")
    text = open(page).read()
    if begin in text:
        text = text[:text.index(begin)] + section + text[text.index(end) + len(end):]
    else:
        text = text.rstrip("\n") + "\n\n" + section + "\n"
    open(page, "w").write(text)


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "build":
        build(sys.argv[2])
    elif command == "score":
        print("\t".join(str(x) for x in score(*sys.argv[2:6])))
    elif command == "report":
        report(*sys.argv[2:5])
    elif command == "score-bleeps":
        print("\t".join(str(x) for x in score_bleeps(*sys.argv[2:5])))
    elif command == "score-text":
        print("\t".join(str(x) for x in score_text(*sys.argv[2:6])))
    elif command == "report-text":
        report_text(*sys.argv[2:5])
