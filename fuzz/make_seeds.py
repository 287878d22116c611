#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""Writes the committed seed corpora: corpus/plugin/ (host call scripts in
plugin_fuzz.cpp's format) and corpus/mask/ (parser inputs). Run from fuzz/."""
import os
import shutil
import struct
import subprocess
import tempfile

def inst(slot, rate_pick): return bytes([0, slot, rate_pick])
def inst_raw(slot, rate): return bytes([0, slot, 255]) + struct.pack('<d', rate)
def conn(slot, port, cell): return bytes([1, slot, port, cell])
def conn_any(slot, port, cell): return bytes([1, slot, 255]) + struct.pack('<I', port) + bytes([cell])
def setc(cell, pick): return bytes([2, cell, pick])
def setf(cell, value): return bytes([2, cell, 255]) + struct.pack('<f', value)
def run(slot, n, flags=0): return bytes([3, slot]) + struct.pack('<H', n) + bytes([flags])
def cleanup(slot): return bytes([4, slot])
def burst(slot, count, n, flags=0): return bytes([5, slot, count, n, flags])
def empty(slot): return bytes([6, slot])
def all_(n32, flags=0): return bytes([7, n32, flags])

# cells start as 0: 1000 Hz, 1: level 0.5, 2: switch on (1.0), 3-7: 0
def wired(slot, rate_pick, f=0, l=1, e=2):
    return inst(slot, rate_pick) + conn(slot, 0, f) + conn(slot, 1, l) + conn(slot, 2, e)

ON, OFF = 2, 3
plugin = {
    'tone_one_block': wired(0, 1) + run(0, 512),
    'tone_max_block': wired(0, 1) + run(0, 8192) + run(0, 8192, 2),
    'tone_in_place': wired(0, 0) + run(0, 1000, 1),
    'tone_input_unconnected': wired(0, 2) + run(0, 333, 2) + run(0, 333, 3),
    'pass_through': wired(0, 1, e=OFF) + run(0, 4096) + run(0, 17, 1) + run(0, 64, 4),
    'bursts': wired(0, 1) + burst(0, 31, 63) + conn(0, 2, OFF) + run(0, 1) + conn(0, 2, ON) + burst(0, 8, 1),
    'empty_blocks': wired(0, 1) + run(0, 100) + empty(0) + run(0, 0) + run(0, 100),
    'switch_half': wired(0, 1, e=4) + setc(4, 2) + run(0, 50) + setc(4, 3) + run(0, 50) + setc(4, 4) + run(0, 50),
    'switch_nan': wired(0, 1, e=4) + setc(4, 7) + run(0, 50) + setc(4, 9) + run(0, 50) + setc(4, 10) + run(0, 50),
    'frequency_nonfinite': wired(0, 1, f=5) + setc(5, 10) + run(0, 64) + setc(5, 7) + run(0, 64) + conn(0, 2, OFF) + run(0, 1) + conn(0, 2, ON) + setc(5, 21) + run(0, 64),
    'frequency_huge': wired(0, 1, f=5) + setc(5, 15) + run(0, 256) + setc(5, 17) + run(0, 256) + setc(5, 18) + run(0, 256),
    'frequency_negative_nyquist': wired(0, 1, f=5) + setc(5, 26) + run(0, 300) + setc(5, 24) + run(0, 300) + setc(5, 23) + run(0, 300),
    'level_extremes': wired(0, 1, l=5) + setc(5, 10) + run(0, 20) + setc(5, 15) + run(0, 20) + setc(5, 13) + run(0, 20) + setc(5, 1) + run(0, 20),
    'subnormals': wired(0, 1, f=5, l=6) + setc(5, 13) + setc(6, 14) + run(0, 128),
    'rates_table': b''.join(wired(s, r) + run(s, 700) for s, r in ((0, 6), (1, 7), (2, 8), (3, 9))),
    'rates_nonfinite': b''.join(wired(s, r) + run(s, 70) for s, r in ((0, 10), (1, 11), (2, 12), (3, 14))),
    'rate_raw': inst_raw(0, 12345.678) + conn(0, 0, 0) + conn(0, 1, 1) + conn(0, 2, 2) + run(0, 999),
    'aliased_controls': wired(0, 1, f=5, l=5, e=5) + setc(5, 5) + run(0, 200) + setc(5, 29) + run(0, 200),
    'four_instances_shared_input': b''.join(wired(s, s) for s in range(4)) + conn(1, 2, OFF) + conn(3, 2, OFF) + all_(64) + all_(255, 4) + all_(3, 2),
    'unknown_ports': wired(0, 1) + conn(0, 5, 9) + conn_any(0, 0xffffffff, 9) + conn_any(0, 1 << 20, 9) + run(0, 10),
    'reconnect_twice': wired(0, 1) + conn(0, 0, 6) + conn(0, 0, 0) + run(0, 10) + conn(0, 1, 8) + conn(0, 1, 1) + run(0, 10),
    'controls_unconnected_in_pass': inst(0, 1) + conn(0, 2, OFF) + run(0, 128) + run(0, 128, 4),
    'cleanup_and_again': wired(0, 1) + run(0, 10) + cleanup(0) + wired(0, 2) + run(0, 10) + cleanup(0) + run(0, 10),
    'instantiate_over_live': wired(1, 1) + run(1, 10) + wired(1, 3) + run(1, 10),
    'raw_values': wired(0, 1, f=5, l=6) + setf(5, 441.5) + setf(6, 0.25) + run(0, 2048) + setf(5, -0.0) + run(0, 2048),
    'wrap_exact_quarter': inst(0, 4) + conn(0, 0, 5) + conn(0, 1, 2) + conn(0, 2, ON) + setf(5, 2000.0) + run(0, 64) + burst(0, 16, 3),
}

# Mask parsers: byte 0 picks time (0), range (1), label file (2), PCM
# container (3), Ogg pages (4) or transcript (5); label files carry two more
# bytes (rate pick, length in thousands of samples), transcripts one (format:
# whisper, whisperx, whisper.cpp, vosk, srt, vtt, or 6 to detect it).
def riff(name, body): return name + struct.pack('<I', len(body)) + body + (b'\0' if len(body) % 2 else b'')
def iff(name, body): return name + struct.pack('>I', len(body)) + body + (b'\0' if len(body) % 2 else b'')
FMT16 = struct.pack('<HHIIHH', 1, 2, 8000, 32000, 4, 16)
AIFF_COMM = struct.pack('>hIh', 1, 4, 16) + bytes([0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0])
OGG_PAGE = b'OggS\0\2' + struct.pack('<qIII', 0, 1, 0, 0) + bytes([1, 19]) + b'OpusHead\1\1' + struct.pack('<HIhB', 312, 48000, 0, 0)

mask = {
    'time_seconds': b'\x00' + b'12.5',
    'time_hms': b'\x00' + b'1:02:03.25',
    'time_ms': b'\x00' + b'2:05',
    'time_comma': b'\x00' + b' 0,0000000005 ',
    'time_bad_minutes': b'\x00' + b'1:75:00',
    'time_huge': b'\x00' + b'999999999999',
    'time_negative': b'\x00' + b'-3',
    'range_plain': b'\x01' + b'1-2.5',
    'range_hms': b'\x01' + b'0:01.5-1:00:00',
    'range_reversed': b'\x01' + b'3-2',
    'range_no_dash': b'\x01' + b'42',
    'labels_audacity': b'\x02\x03\x78' + b'1.000000\t2.500000\tcough\n3.25\t4\t\n\\\t440.0\t880.0\n\n5\t5.5\tx\n',
    'labels_overlap': b'\x02\x02\x10' + b'0\t1\ta\n0.5\t2\tb\n2\t3\tc\n14\t99\tpast the end\n',
    'labels_bom_crlf': b'\x02\x00\x05' + b'\xef\xbb\xbf0.1\t0.2\tx\r\n0.3\t0.30001\ty\r\n',
    'labels_cr_only': b'\x02\x03\x09' + b'0.1\t0.2\tx\r\r\\\t1\t2\r0.3\t0.4\ty\r0.5\t0.6',
    'labels_nul_text': b'\x02\x01\x09' + b'0.1\t0.2\ta\x00b\n0.3\x00\t0.4\tc\n',
    'labels_point': b'\x02\x01\x09' + b'1\t1\tpoint\n',
    'labels_bad': b'\x02\x04\x09' + b'1 2 no tabs\n',
    'pcm_wav': b'\x03' + b'RIFF' + struct.pack('<I', 4 + 24 + 24) + b'WAVE' + riff(b'fmt ', FMT16) + riff(b'data', bytes(16)),
    'pcm_wav_streamed': b'\x03' + b'RIFF\xff\xff\xff\xffWAVE' + riff(b'fmt ', FMT16) + b'data\xff\xff\xff\xff' + bytes(12),
    'pcm_aiff': b'\x03' + b'FORM' + struct.pack('>I', 4 + 26 + 24) + b'AIFF' + iff(b'COMM', AIFF_COMM) + iff(b'SSND', bytes(8) + bytes(8)),
    'pcm_au': b'\x03' + b'.snd' + struct.pack('>IIIII', 24, 8, 3, 8000, 1) + bytes(8),
    'ogg_opus_head': b'\x04' + OGG_PAGE,
    'labels_tiny_rate': b'\x02\x07\x01' + b'0.4\t0.6\thalf\n0.1\t0.2\tnothing\n',
    'transcript_whisper': b'\x05\x00' + b'{"segments": [{"text": " Damn it", "words": [{"word": " Damn", "start": 0.5, "end": 0.9, "probability": 0.8}, {"word": " it", "start": 0.9, "end": 1.1}]}, {"text": " no words"}]}',
    'transcript_whisperx': b'\x05\x01' + b'{"segments": [], "word_segments": [{"word": "heck", "start": 1.25, "end": 1.5, "score": 0.9}, {"word": "1999", "score": 0.2}]}',
    'transcript_whisper_cpp': b'\x05\x02' + b'{"transcription": [{"offsets": {"from": 0, "to": 2000}, "text": " Son of", "tokens": [{"text": "[_BEG_]", "offsets": {"from": 0, "to": 0}, "p": 0.9}, {"text": " Son", "offsets": {"from": 0, "to": 400}, "p": 0.8}, {"text": "ny", "offsets": {"from": 400, "to": 700}, "p": 0.4}]}, {"offsets": {"from": 2000, "to": 3000}, "text": " plain cue"}]}',
    'transcript_vosk_lines': b'\x05\x03' + b'{"partial": "he"}\n{\n  "result" : [{\n      "conf" : 1.000000,\n      "end" : 1.11,\n      "start" : 0.87,\n      "word" : "heck"\n    }],\n  "text" : "heck"\n}\n[{"text": ""}]\n',
    'transcript_srt': b'\x05\x04' + b'\xef\xbb\xbf1\r\n00:00:01,000 --> 00:00:02,500\r\n<i>Oh</i> {\\an8}no\r\n\r\n2\r\n01:00:00,250 --> 01:00:03,000 X1:10\r\nWhat?!',
    'transcript_vtt': b'\x05\x05' + b'WEBVTT\n\nNOTE x\n\nid\n00:01.000 --> 00:02.000 align:start\n<v Ann>Tom &amp; Jerry</v>\n\n00:00:03.000 --> 00:00:06.000\n<c>Ne<00:00:03.500>ver</c> <00:00:04.000>gonna\n',
    'transcript_detect_bad_time': b'\x05\x06' + b'1\n00:00:01,000 --> 00:01:60,000\nhi\n',
    'transcript_detect_json_error': b'\x05\x06' + b'{"segments": [\n{"words": [}]}',
}

# Video: small files made by ffmpeg, when it is installed, with the byte
# that picks no --stream value.
def ffmpeg_seed(extension, *codec):
    out = os.path.join(tempfile.mkdtemp(), 'seed.' + extension)
    subprocess.run(['ffmpeg', '-v', 'error', '-f', 'lavfi', '-i', 'sine=duration=0.1:sample_rate=8000', '-f', 'lavfi',
                    '-i', 'color=size=16x16:rate=5:duration=0.1', *codec, out], check=True)
    with open(out, 'rb') as f:
        return b'\x06\x04' + f.read()

if shutil.which('ffmpeg'):
    mask['media_aac_mp4'] = ffmpeg_seed('mp4', '-c:a', 'aac', '-c:v', 'mpeg4', '-metadata:s:a', 'language=eng')
    mask['media_opus_mkv'] = ffmpeg_seed('mkv', '-c:a', 'libopus', '-c:v', 'mpeg4')

for folder, seeds in (('corpus/plugin', plugin), ('corpus/mask', mask)):
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
    print(f'{folder}: {len(seeds)} seeds')
