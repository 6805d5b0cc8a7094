#!/bin/sh
# Writes a seed corpus for tamblo_media_fuzz into the folder given: a few wave encodings (GSM 6.10,
# G.721 and NMS ADPCM among them), MP3s with and without an Info frame, MIDI files and an RMI. The
# first byte of each seed picks the extension the fuzz target gives the file (0 .wav, 1 .mp3,
# 2 .mid, 3 .rmi, 4 other).
set -eu
out=$1
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 - "$tmp" <<'PY'
import struct, sys, wave
tmp = sys.argv[1]
for name, width, rate, channels in [("w8", 1, 8000, 1), ("w16", 2, 22050, 2), ("w24", 3, 11025, 1)]:
    with wave.open(f"{tmp}/{name}.wav", "wb") as w:
        w.setnchannels(channels); w.setsampwidth(width); w.setframerate(rate)
        w.writeframes(bytes((i * 37) & 0xFF for i in range(width * channels * 600)))
# Block-coded telephony encodings libsndfile cannot seek in: any bytes decode, so the data is
# a plain byte pattern. GSM 6.10 with an odd number of 65-byte blocks (a pad byte follows).
def coded(name, tag, rate, per_second, align, bits, extra, blocks, frames):
    fmt = struct.pack("<HHIIHH", tag, 1, rate, per_second, align, bits) + extra
    data = bytes((i * 73 + 11) & 0xFF for i in range(align * blocks))
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"fact" + struct.pack("<II", 4, frames) \
         + b"data" + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")
    open(f"{tmp}/{name}.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
coded("gsm", 0x31, 8000, 1625, 65, 0, struct.pack("<HH", 2, 320), 7, 2100)
coded("g721", 0x40, 8000, 4000, 64, 4, struct.pack("<HH", 2, 0), 6, 700)
coded("nms", 0x38, 8000, 2100, 42, 2, b"", 9, 900)
def vlq(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.insert(0, (v & 0x7F) | 0x80); v >>= 7
    return bytes(out)
def track(events):
    body = b"".join(vlq(d) + bytes(e) for d, e in events)
    return b"MTrk" + struct.pack(">I", len(body)) + body
song = b"MThd" + struct.pack(">IHHH", 6, 1, 2, 96) + track([(0, [0xFF, 0x51, 3, 7, 0xA1, 0x20]), (0, [0xFF, 0x2F, 0])]) \
     + track([(0, [0xC0, 5]), (0, [0x90, 60, 100]), (48, [62, 90]), (48, [0x80, 60, 0]), (0, [0x80, 62, 0]), (0, [0xFF, 0x2F, 0])])
smpte = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 0xE728) + track([(0, [0x90, 64, 100]), (100, [0x80, 64, 0])])
open(f"{tmp}/song.mid", "wb").write(song)
open(f"{tmp}/smpte.mid", "wb").write(smpte)
body = b"RMID" + b"data" + struct.pack("<I", len(song)) + song
open(f"{tmp}/song.rmi", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
PY
lame --quiet -b 32 "$tmp/w16.wav" "$tmp/info.mp3"
lame --quiet -b 32 -t "$tmp/w16.wav" "$tmp/bare.mp3"
seed() { { printf "\\$(printf '%03o' "$1")"; cat "$2"; } > "$out/$(basename "$2")"; }
seed 0 "$tmp/w8.wav"; seed 0 "$tmp/w16.wav"; seed 0 "$tmp/w24.wav"
seed 0 "$tmp/gsm.wav"; seed 0 "$tmp/g721.wav"; seed 0 "$tmp/nms.wav"
seed 1 "$tmp/info.mp3"; seed 4 "$tmp/bare.mp3"
seed 2 "$tmp/song.mid"; seed 2 "$tmp/smpte.mid"; seed 3 "$tmp/song.rmi"
