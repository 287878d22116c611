# SPDX-License-Identifier: ISC
# Writes a Broadcast WAV file as recorders and editors leave them: bext,
# cue points with LIST adtl labels, LIST INFO fields, iXML, smpl and id3.
import math
import struct
import sys


def chunk(cid, data):
    return cid + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


rate, frames = 8000, 8000
fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
audio = b"".join(struct.pack("<h", int(8000 * math.sin(i / 10))) for i in range(frames))
bext = (b"Interview take 3".ljust(256, b"\0") + b"Zendrik Tests".ljust(32, b"\0") + b"REF-0042".ljust(32, b"\0")
        + b"2026-01-0210:20:30" + struct.pack("<IIH", 864000, 0, 1) + bytes(64 + 190)
        + b"A=PCM,F=8000,W=16,M=mono\r\n")
cue = struct.pack("<I", 2) + b"".join(struct.pack("<II4sIII", n, at, b"data", 0, 0, at) for n, at in ((1, 1000), (2, 5000)))
labels = b"adtl" + chunk(b"labl", struct.pack("<I", 1) + b"Intro\0") + chunk(b"labl", struct.pack("<I", 2) + b"Outro\0")
info = b"INFO" + b"".join(chunk(k, v + b"\0") for k, v in
                          ((b"INAM", b"Title"), (b"IKEY", b"speech"), (b"IENG", b"Engineer"), (b"ITCH", b"Tech"),
                           (b"IPRT", b"Part")))
ixml = b"<?xml version=\"1.0\"?><BWFXML><PROJECT>Z</PROJECT></BWFXML>"
smpl = struct.pack("<9I", 0, 0, 125000, 60, 0, 0, 0, 1, 0) + struct.pack("<6I", 0, 0, 2000, 6000, 0, 0)
id3 = b"ID3\x03\x00\x00\x00\x00\x00\x0f" + b"TIT2\x00\x00\x00\x05\x00\x00\x00Tit2"
body = (chunk(b"fmt ", fmt) + chunk(b"bext", bext) + chunk(b"data", audio) + chunk(b"cue ", cue)
        + chunk(b"LIST", labels) + chunk(b"LIST", info) + chunk(b"iXML", ixml) + chunk(b"smpl", smpl)
        + chunk(b"id3 ", id3))
with open(sys.argv[1], "wb") as out:
    out.write(b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WAVE" + body)
