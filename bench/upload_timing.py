#!/usr/bin/env python3
"""Wire efficiency of an image transfer, from an nc-sim record.

The wire time counts every byte both ways at the rate in force (10 bits per
character) from the load begin request to the load end answer; the measured
time runs from the first byte of the load begin on the line to the last byte
of the load end answer. The gap before each segment is the line's idle time
between the last byte of an answer and the first byte of the next segment:
the tool's reaction plus the pty's and the simulator's latency.

usage: upload_timing.py RECORD LINK_RATE TRANSFER_RATE
"""
import json
import statistics
import sys

LOAD_BEGIN, LOAD_BEGIN_ANSWER = 0x13, 0x14
SEGMENT, SEGMENT_ANSWER = 0x15, 0x16
LOAD_END, LOAD_END_ANSWER = 0x17, 0x18


def wire_seconds(frame, rate):
    frame_bytes = 8 + len(frame["payload"]) // 2
    if frame["via"] == "raw":
        line_bytes = frame_bytes
    else:  # the simulator answers with one "$PNCX,0,<hex>*hh" CR LF sentence
        line_bytes = len("$PNCX,0,") + 2 * frame_bytes + len("*hh\r\n")
    return line_bytes * 10 / rate


def main():
    record, link, transfer = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    frames = [r for r in map(json.loads, open(record)) if r["kind"] == "frame"]
    begin = max(i for i, f in enumerate(frames) if f["dir"] == "rx" and f["type"] == LOAD_BEGIN)
    end = next(i for i, f in enumerate(frames)
               if i > begin and f["dir"] == "tx" and f["type"] == LOAD_END_ANSWER)
    transfer_frames = frames[begin:end + 1]
    fast = {SEGMENT, SEGMENT_ANSWER}
    wire = 0.0
    gaps = []
    answer_end = None
    for f in transfer_frames:
        seconds = wire_seconds(f, transfer if f["type"] in fast else link)
        wire += seconds
        if f["dir"] == "tx":
            answer_end = f["t"] + seconds  # sent at once: the line is idle
        elif f["type"] == SEGMENT and answer_end is not None:
            gaps.append(f["t"] - seconds - answer_end)
    start = transfer_frames[0]["t"] - wire_seconds(transfer_frames[0], link)
    finish = transfer_frames[-1]["t"] + wire_seconds(transfer_frames[-1], link)
    measured = finish - start
    segments = sum(1 for f in transfer_frames if f["dir"] == "rx" and f["type"] == SEGMENT)
    gaps_ms = sorted(g * 1000 for g in gaps)
    print(f"transfer {transfer} baud: {segments} segments, wire {wire:.3f} s, "
          f"measured {measured:.3f} s, ratio {wire / measured:.4f}, "
          f"gap before a segment: median {statistics.median(gaps_ms):.3f} ms, "
          f"90% {gaps_ms[int(len(gaps_ms) * 0.9)]:.3f} ms, max {gaps_ms[-1]:.3f} ms")


main()
