#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""Uncompressed PCM files for zendrik-mask's tests, made by sox and ffmpeg,
with chunks added here, and a manifest of where each keeps its samples:

    pcm_files.py FOLDER

writes the files into FOLDER and FOLDER/manifest.txt, one line a file:
"NAME found OFFSET LENGTH CHANNELS BYTES", "NAME truncated" or "NAME unknown".
Every file holds 8000 frames of 8 kHz stereo 24-bit noise (48000 bytes);
offsets are known from how each file is put together, not by reading it."""
import os
import struct
import subprocess
import sys

FRAMES, CHANNELS, BYTES = 8000, 2, 3
LENGTH = FRAMES * CHANNELS * BYTES


def run(*command):
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL)


def chunk(name, body, big_endian=False):
    """A RIFF or IFF chunk with its pad byte."""
    size = struct.pack(">I" if big_endian else "<I", len(body))
    return name + size + body + (b"\0" if len(body) % 2 else b"")


def riff_chunks(data):
    """The chunks of a RIFF file sox wrote, by name."""
    found, at = {}, 12
    while at + 8 <= len(data):
        size = struct.unpack("<I", data[at + 4 : at + 8])[0]
        found[data[at : at + 4]] = data[at + 8 : at + 8 + size]
        at += 8 + size + size % 2
    return found


def main(folder):
    os.chdir(folder)
    manifest = []

    def found(name, offset):
        manifest.append(f"{name} found {offset} {LENGTH} {CHANNELS} {BYTES}")

    def at_end(name):
        """Files whose samples are their last bytes."""
        found(name, os.path.getsize(name) - LENGTH)

    run("sox", "-q", "-R", "-n", "-r", "8000", "-c", "2", "-b", "24", "base.wav", "synth", "1", "whitenoise", "vol", "0.5")
    base = riff_chunks(open("base.wav", "rb").read())

    # WAV with the chunks broadcast and sampler software write, one unknown.
    before = chunk(b"fmt ", base[b"fmt "]) + chunk(b"bext", b"zendrik test".ljust(602, b"\0"))
    before += chunk(b"iXML", b"<BWFXML><SCENE>1</SCENE></BWFXML>")
    cue = struct.pack("<I", 1) + struct.pack("<II4sIII", 1, 800, b"data", 0, 0, 800)
    adtl = b"adtl" + chunk(b"labl", struct.pack("<I", 1) + b"bleep\0")
    smpl = struct.pack("<9I", 0, 0, 125000, 60, 0, 0, 0, 0, 0)
    after = chunk(b"cue ", cue) + chunk(b"LIST", adtl) + chunk(b"smpl", smpl) + chunk(b"zNDk", b"vendr")
    body = b"WAVE" + before + chunk(b"data", base[b"data"]) + after
    open("chunks.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
    found("chunks.wav", 12 + len(before) + 8)

    # An empty data chunk with a chunk after it, under a RIFF size that was
    # written: those bytes are no stream of samples.
    body = b"WAVE" + chunk(b"fmt ", base[b"fmt "]) + chunk(b"data", b"") + chunk(b"LIST", b"INFOICMT" + struct.pack("<I", 6) + b"notes\0")
    open("empty-data.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
    manifest.append(f"empty-data.wav found {12 + 8 + len(base[b'fmt ']) + 8} 0 {CHANNELS} {BYTES}")

    # A chunk before the samples that claims more than the file.
    body = b"WAVE" + chunk(b"fmt ", base[b"fmt "]) + b"zNDk" + struct.pack("<I", 0x7FFFFFF0) + chunk(b"data", base[b"data"])
    open("lie-vendor.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
    manifest.append("lie-vendor.wav unknown")

    run("ffmpeg", "-loglevel", "error", "-y", "-i", "base.wav", "-c:a", "pcm_s24le", "-rf64", "always", "rf64.wav")
    at_end("rf64.wav")
    with open("streamed.wav", "wb") as out:
        subprocess.run(["ffmpeg", "-loglevel", "error", "-i", "base.wav", "-c:a", "pcm_s24le", "-f", "wav", "-"],
                       check=True, stdin=subprocess.DEVNULL, stdout=out)
    at_end("streamed.wav")
    for name in ("w64.w64", "caf.caf", "au.au", "plain.aiff"):
        run("sox", "-q", "base.wav", name)
        at_end(name)

    # AIFF with a marker and an application chunk before its samples.
    aiff = open("plain.aiff", "rb").read()
    ssnd = aiff.index(b"SSND")
    marker = struct.pack(">HHI", 1, 1, 800) + bytes([5]) + b"bleep"
    extra = chunk(b"MARK", marker, True) + chunk(b"APPL", b"zNDkdata", True)
    aiff = aiff[:ssnd] + extra + aiff[ssnd:]
    open("marks.aiff", "wb").write(b"FORM" + struct.pack(">I", len(aiff) - 8) + aiff[8:])
    at_end("marks.aiff")
    # An SSND whose offset field points far beyond its samples.
    ssnd = aiff.index(b"SSND")
    open("lie-ssnd.aiff", "wb").write(aiff[: ssnd + 8] + struct.pack(">I", 0xFFFFFF00) + aiff[ssnd + 12 :])
    manifest.append("lie-ssnd.aiff unknown")

    # COMM after SSND, which AIFF allows; and a COMM that states more frames
    # than SSND holds, as a file cut short and mended by a careless tool.
    aiff = open("plain.aiff", "rb").read()
    comm = aiff.index(b"COMM")
    moved = aiff[:comm] + aiff[comm + 26 :] + aiff[comm : comm + 26]
    open("comm-after.aiff", "wb").write(moved)
    found("comm-after.aiff", moved.index(b"SSND") + 16)
    frames = struct.pack(">I", FRAMES + 1000)
    open("long-comm.aiff", "wb").write(aiff[: comm + 10] + frames + aiff[comm + 14 :])
    manifest.append("long-comm.aiff truncated")

    # A W64 fmt chunk shorter than its own header.
    w64 = open("w64.w64", "rb").read()
    fmt = w64.index(b"fmt ")
    open("lie-w64.w64", "wb").write(w64[: fmt + 16] + struct.pack("<Q", 8) + w64[fmt + 24 :])
    manifest.append("lie-w64.w64 unknown")
    # A CAF data chunk that claims more than the file holds.
    caf = open("caf.caf", "rb").read()
    data = caf.rindex(b"data")
    open("lie-caf.caf", "wb").write(caf[: data + 4] + struct.pack(">q", 1 << 40) + caf[data + 12 :])
    manifest.append("lie-caf.caf truncated")

    # Cut inside the samples.
    for name in ("au.au", "w64.w64", "rf64.wav", "chunks.wav"):
        cut = "cut-" + name
        open(cut, "wb").write(open(name, "rb").read()[: os.path.getsize(name) - LENGTH // 2])
        manifest.append(f"{cut} truncated")

    open("manifest.txt", "w").write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
