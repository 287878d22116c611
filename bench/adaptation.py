#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""bench/adaptation_eval.sh's helper: what sphinxtrain's bw needs to estimate
an MLLR transform for PocketSphinx's default model.

usage: adaptation.py utterances DECODED WAV DIR   (DIR/fileids, DIR/transcription, one WAV per utterance)
       adaptation.py weights SENDUMP OUT            (the model's 8-bit mixture weights, expanded)
DECODED: pocketsphinx_continuous -time yes output, its words the transcript.
"""
import array
import math
import re
import struct
import subprocess
import sys
import os


def utterances(decoded, wav, out):
    """The first decoding's utterances, cut from WAV, with its words as their text."""
    os.makedirs(out, exist_ok=True)
    found, current = [], None
    for line in open(decoded):
        fields = line.split()
        try:
            word, start, end = fields[0], float(fields[1]), float(fields[2])
        except (IndexError, ValueError):
            continue  # a hypothesis line, not a timed word
        if word == "<s>":
            current = [start, end, []]
        elif word == "</s>":
            if current and current[2]:
                current[1] = end
                found.append(current)
            current = None
        elif current is not None:
            current[1] = end
            if not word.startswith(("<", "[")):
                current[2].append(re.sub(r"\(\d+\)$", "", word))
    with open(out + "/fileids", "w") as ids, open(out + "/transcription", "w") as text:
        for i, (start, end, words) in enumerate(found):
            name = "u%05d" % i
            subprocess.run(["sox", wav, "%s/%s.wav" % (out, name), "trim", "%.3f" % max(0, start - 0.05),
                            "=%.3f" % (end + 0.05)], check=True, stderr=subprocess.DEVNULL)
            ids.write(name + "\n")
            text.write("<s> %s </s> (%s)\n" % (" ".join(words), name))
    print("%d utterances, %d words" % (len(found), sum(len(f[2]) for f in found)), file=sys.stderr)


def weights(sendump, out):
    """PocketSphinx keeps the mixture weights as 8-bit log values (sendump);
    bw reads them as a Sphinx-III float file (mixture_weights)."""
    f = open(sendump, "rb")
    count = lambda: struct.unpack("<I", f.read(4))[0]
    def string():
        n = count()
        return None if n == 0 else f.read(n)[:-1].decode()
    header = {}
    string()
    while (line := string()) is not None:
        parts = line.split()
        if len(parts) == 2 and parts[1].isdigit():
            header[parts[0]] = int(parts[1])
    if header.get("cluster_count", 0):
        sys.exit("adaptation.py: clustered mixture weights are not handled")
    shift, streams = header.get("mixw_shift", 10), header.get("feature_count", 1)
    codewords, senones = count(), count()
    value = [math.pow(1.0001, -(b << shift)) for b in range(256)]
    mixw = array.array("f", [0.0]) * (senones * streams * codewords)
    for stream in range(streams):
        for codeword in range(codewords):
            for senone, b in enumerate(f.read(senones)):
                mixw[(senone * streams + stream) * codewords + codeword] = value[b]
    for base in range(0, len(mixw), codewords):  # quantised: each mixture summed back to one
        total = sum(mixw[base:base + codewords])
        for i in range(base, base + codewords):
            mixw[i] /= total
    head = b"s3\nversion 1.0\n"
    misaligned = (len(head) + len(b"endhdr\n")) & 3
    head += b" " * (4 - misaligned if misaligned else 0) + b"endhdr\n"
    with open(out, "wb") as o:
        o.write(head + struct.pack("<iIIII", 0x11223344, senones, streams, codewords, len(mixw)))
        mixw.tofile(o)


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "utterances":
        utterances(*sys.argv[2:5])
    elif len(sys.argv) == 4 and sys.argv[1] == "weights":
        weights(*sys.argv[2:4])
    else:
        sys.exit(__doc__)
