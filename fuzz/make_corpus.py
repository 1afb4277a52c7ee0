#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/ from the byte vectors of the unit tests.

Run it again after changing a fuzz target's input layout; it replaces the seeds it writes and leaves other
files alone. Each seed file is named after what it holds.
"""
import pathlib
import zlib

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"


def checksum32(data):
    # CRC-32 without its final inversion
    return ~zlib.crc32(bytes(data)) & 0xFFFFFFFF


def pack7(data):
    out = []
    for start in range(0, len(data), 7):
        group = data[start:start + 7]
        header = 0
        for j, b in enumerate(group):
            if b & 0x80:
                header |= 0x40 >> j
        out.append(header)
        out.extend(b & 0x7F for b in group)
    return out


def enc7x5(value):
    return [(value >> (7 * i)) & 0x7F for i in range(4)] + [(value >> 28) & 0x0F]


def enc14(n):
    return [n & 0x7F, (n >> 7) & 0x7F]


def read_reply(data, code=0x63):
    return [0xF0, 0x52, 0x00, code, 0x60, 0x04, 0x30, 0x00, 0x00] + enc14(len(data)) + pack7(data) + \
        enc7x5(checksum32(data)) + [0xF7]


def write_request(address, data, code=0x63):
    return [0xF0, 0x52, 0x00, code, 0x02] + enc7x5(address) + enc14(len(data)) + pack7(data) + \
        enc7x5(checksum32(data)) + [0xF7]


def erase_request(address, size, code=0x63):
    return [0xF0, 0x52, 0x00, code, 0x0A] + enc7x5(address) + enc7x5(size) + [0xF7]


def read_request(address, count, code=0x63):
    return [0xF0, 0x52, 0x00, code, 0x60, 0x30] + enc7x5(address) + enc7x5(count) + [0xF7]


def sysex(length, fill=0x11):
    return [0xF0] + [fill] * (length - 2) + [0xF7]


def write(target, name, data):
    folder = ROOT / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(bytes(data))


# ---- fuzz_replies: device code, offset mode, four offset bytes, then the message ----

def reply_seed(message, code=0x63, mode=1, raw=0):
    return [code, mode] + list(raw.to_bytes(4, "little")) + message


READ_EXAMPLE = [0xF0, 0x52, 0x00, 0x63, 0x60, 0x04, 0x30, 0x00, 0x00, 0x04, 0x00,
                0x00, 0x31, 0x2E, 0x30, 0x30, 0x12, 0x25, 0x03, 0x6B, 0x05, 0xF7]
assert read_reply([0x31, 0x2E, 0x30, 0x30]) == READ_EXAMPLE

replies = {
    "status-0": [0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7],
    "status-11": [0xF0, 0x52, 0x00, 0x63, 0x00, 0x0B, 0xF7],
    "status-other-code": [0xF0, 0x52, 0x00, 0x62, 0x00, 0x00, 0xF7],
    "device-0x01": [0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7],
    "device-0x04": [0xF0, 0x52, 0x00, 0x63, 0x04, 0xF7],
    "done-reply": [0xF0, 0x52, 0x00, 0x63, 0x02, 0xF7],
    "code-0x03": [0xF0, 0x52, 0x00, 0x63, 0x03, 0xF7],
    "code-0x07": [0xF0, 0x52, 0x00, 0x63, 0x07, 0xF7],
    "read-code-byte5-0x05": [0xF0, 0x52, 0x00, 0x63, 0x60, 0x05, 0xF7],
    "identity-request": [0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7],
    "identity-reply": [0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x62, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7],
    "general-information-0x03": [0xF0, 0x7E, 0x00, 0x06, 0x03, 0xF7],
    "other-maker": [0xF0, 0x41, 0x00, 0x63, 0x00, 0x00, 0xF7],
    "read-1.00": READ_EXAMPLE,
    "read-6-bytes": read_reply([0x80, 0x81, 0x7F, 0x00, 0xFF, 0x01]),
    "read-7-bytes": read_reply([1, 2, 3, 4, 5, 6, 0xF7]),
    "read-13-bytes": read_reply(list(range(1, 13)) + [0xFF]),
    "read-nothing": read_reply([]),
    "read-wrong-checksum": READ_EXAMPLE[:20] + [0x04, 0xF7],
    "read-length-too-long": READ_EXAMPLE[:9] + [0x08] + READ_EXAMPLE[10:],
    "two-replies-and-notes": [0x90, 0x3C, 0x64] + READ_EXAMPLE + [0xF8] + [0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7],
}
for name, message in replies.items():
    write("fuzz_replies", name, reply_seed(message))
write("fuzz_replies", "read-1.00-at-the-end", reply_seed(READ_EXAMPLE, mode=2, raw=4))
write("fuzz_replies", "read-1.00-one-past-the-end", reply_seed(READ_EXAMPLE, mode=2, raw=3))
write("fuzz_replies", "read-1.00-negative-offset", reply_seed(READ_EXAMPLE, mode=0, raw=0xFFFFFFFE))
write("fuzz_replies", "status-for-code-0x62", reply_seed([0xF0, 0x52, 0x00, 0x62, 0x00, 0x05, 0xF7], code=0x62))

# ---- fuzz_framer: count of chunk lengths (low 4 bits), the lengths, then the stream ----

STATUS = [0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7]
IDENTITY = [0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x63, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7]
streams = {
    "one-reply": STATUS,
    "two-replies": STATUS + IDENTITY,
    "real-time-inside": [0xF0, 0x52, 0xF8, 0x00, 0x63, 0xFE, 0x00, 0xFF, 0x00, 0xFA, 0xF7],
    "channel-messages-only": [0x90, 0x3C, 0x64, 0x3E, 0x50, 0xB0, 0x07, 0x7F, 0xF8, 0xFE, 0xC0, 0x05, 0xF1, 0x10],
    "status-byte-ends-sysex": [0xF0, 0x52, 0x00, 0x63, 0x90, 0x3C, 0x64] + STATUS,
    "new-start-drops-unfinished": [0xF0, 0x52, 0x00] + STATUS,
    "interrupted-by-system-common": [0xF0, 0x52, 0xF2, 0x00, 0x63, 0xF7],
    "stray-end": [0xF7, 0x01, 0x02, 0xF7],
    "empty-sysex": [0xF0, 0xF7],
    "mixed": [0x90, 0x3C] + STATUS + [0xF8] + IDENTITY + [0xF0, 0x52, 0xFE, 0x00, 0x63, 0x02, 0xF7, 0xB0, 1, 2],
}
for name, stream in streams.items():
    write("fuzz_framer", name, [0] + stream)
write("fuzz_framer", "mixed-split-3-1-5", [3, 3, 1, 5] + streams["mixed"])
write("fuzz_framer", "sysex-8192", [0] + sysex(8192))
write("fuzz_framer", "sysex-8193-then-status", [2, 100, 0] + sysex(8193, 0x22) + STATUS)

# ---- fuzz_codec: any bytes ----

codec = {
    "check-123456789": b"123456789",
    "check-abc": b"abc",
    "empty": b"",
    "pack-80-01-ff": [0x80, 0x01, 0xFF],
    "packed-50-00-01-7f": [0x50, 0x00, 0x01, 0x7F],
    "packed-two": [0x40, 0x11],
    "packed-seven": [0x01, 1, 2, 3, 4, 5, 6],
    "7x5-boot-version-address": enc7x5(0x22FFC),
    "7x5-all-ones": enc7x5(0xFFFFFFFF),
    "7x5-noisy": [0xFC, 0xDF, 0x88, 0x80, 0xF0],
    "length-4096": enc14(4096),
    "block-of-23": [(i * 151 + 7) & 0xFF for i in range(23)],
}
for name, data in codec.items():
    write("fuzz_codec", name, data)

# ---- fuzz_device_request: the model code, then the message ----

DATA = [0x00, 0x80, 0xFF, 0x7F, 0x12, 0xA5, 0x5A, 0xC3, 0x3C]
requests = {
    "identity-request": [0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7],
    "identity-request-all-call": [0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7],
    "identity-request-device-5": [0xF0, 0x7E, 0x05, 0x06, 0x01, 0xF7],
    "host-identity-reply": [0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x63, 0, 0, 0, 0x31, 0x30, 0x30, 0x30, 0xF7],
    "host-ack": [0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7],
    "begin": [0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7],
    "end": [0xF0, 0x52, 0x00, 0x63, 0x04, 0xF7],
    "begin-too-long": [0xF0, 0x52, 0x00, 0x63, 0x01, 0x00, 0xF7],
    "other-maker": [0xF0, 0x43, 0x00, 0x63, 0x01, 0xF7],
    "no-end-byte": [0xF0, 0x52, 0x00, 0x63, 0x01],
    "erase": erase_request(0x3FC000, 0x4000),
    "erase-last-sector": erase_request(0x3FF000, 0x1000),
    "erase-unaligned": erase_request(0x3FC800, 0x1000),
    "erase-wrapping": erase_request(0x1000, 0xFFFFF000),
    "write": write_request(0x1000, DATA),
    "write-abc": write_request(0x1000, list(b"abc")),
    "write-nothing": write_request(0x1000, []),
    "write-at-the-end": write_request(0x400000 - 9, DATA),
    "write-length-one-more": write_request(0, DATA)[:10] + [10] + write_request(0, DATA)[11:],
    "read-boot-version": read_request(0x22FFC, 4),
    "read-most": read_request(0, 16383),
    "read-too-much": read_request(0, 16384),
    "read-other-sub-code": read_request(0, 4)[:5] + [0x31] + read_request(0, 4)[6:],
}
for name, message in requests.items():
    write("fuzz_device_request", name, [0x63] + message)
write("fuzz_device_request", "begin-for-model-0x62", [0x62, 0xF0, 0x52, 0x00, 0x62, 0x01, 0xF7])

# ---- fuzz_scenario: text ----

scenarios = [
    "", "model=0x62", "model=98", "boot=1.00", "boot=blank", "mode=off", "refuse-erase=4:6",
    "refuse-block=113:31", "drop-block=2:3", "late-block=7:1500", "lose=5:42", "bad-read", "silent",
    "end-status=5", "unplug=12", "chatter", "done-reply", "link=none", "link=din",
    " model=0x62 , refuse-block=3:2,link=none, chatter ", "model=0x62,flood", "silent=yes", "model=0x80",
    "refuse-block=99999999999:1", "lose=101:1", "boot=1\t00", "=3", "unplug=0", "late-block=2:0",
]
for i, text in enumerate(scenarios):
    write("fuzz_scenario", f"text-{i:02d}", text.encode())
