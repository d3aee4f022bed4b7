#!/usr/bin/env python3
"""Writes the seed corpus of both fuzz targets into corpus/ (run again to regenerate it)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The DigitalProductId value of a Windows 10 system (key VK7JG-NPHTM-C97JM-9MPGT-3V66T).
REAL_VALUE = bytes.fromhex(
    "a4000000030000003030333330 2d38303030302d30303030302d4141323831 00"
    "ec0c00005b54485d5831392d393838343100 0000ec0c00000000a8d27b6e89814f6d"
    "0900000000 00c56e5c61b957ce71".replace(" ", "")) + bytes(80) + bytes.fromhex("694a1b59")
assert len(REAL_VALUE) == 164
REAL_KEY = REAL_VALUE[52:67]


def number_to_key(n, n_layout=False):
    key = bytearray(n.to_bytes(15, "little"))
    if n_layout:
        key[14] |= 0x08  # the layout bit of keys since Windows 8
    return bytes(key)


def registry_input(value, open_mode=0, open_status=0, query_mode=0, query_status=0, value_type=3,
                   close_mode=0, close_status=0):
    """The lookup fuzzer's layout: see FuzzRegistry.h."""
    return (bytes([open_mode]) + struct.pack("<i", open_status) + bytes([query_mode]) +
            struct.pack("<i", query_status) + struct.pack("<I", value_type) + bytes([close_mode]) +
            struct.pack("<i", close_status) + value)


SEEDS = {
    "decode_fuzzer": {
        "real-windows10": REAL_KEY,
        "zero": bytes(15),
        "all-ff": b"\xff" * 15,
        "largest-classic": number_to_key(24 ** 25 - 1),
        "n-first": number_to_key(0, n_layout=True),
        "n-late": number_to_key(20 * 24 ** 24, n_layout=True),  # leading digit 20: N at index 20
    },
    "lookup_fuzzer": {
        "real-value": registry_input(REAL_VALUE),
        "open-fails": registry_input(REAL_VALUE, open_mode=1, open_status=2),
        "value-165-bytes": registry_input(REAL_VALUE + b"\x00"),
        "value-60-bytes": registry_input(REAL_VALUE[:60]),
        "value-as-text": registry_input(b"ABCDEFGHIJ" * 8 + b"\x00", value_type=1),
        "query-raises": registry_input(REAL_VALUE, query_mode=2),
        "close-raises": registry_input(REAL_VALUE, close_mode=2),
    },
}

for target, seeds in SEEDS.items():
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
