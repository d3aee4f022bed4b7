#!/usr/bin/env python3
"""The checker's own test: it passes a sound fixture, and each fault put into a copy of that
fixture (or built into one) is reported by exactly the check meant to catch it.

Usage: test_check_pe.py --machine i386|amd64 GOOD.exe IMPORTS_ADVAPI32.exe
"""
import argparse
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_pe  # noqa: E402


def headers(data):
    """The image, and the offsets of its COFF and optional headers."""
    coff = struct.unpack_from("<I", data, 0x3C)[0] + 4
    return check_pe.Image(bytes(data)), coff, coff + 20


def set_timestamp(data):
    _, coff, _ = headers(data)
    struct.pack_into("<I", data, coff + 4, 0x5F000000)


def clear_flag(flag):
    def patch(data):
        _, _, opt = headers(data)
        value = struct.unpack_from("<H", data, opt + 70)[0]
        struct.pack_into("<H", data, opt + 70, value & ~flag)
    return patch


def console_subsystem(data):
    _, _, opt = headers(data)
    struct.pack_into("<H", data, opt + 68, 3)


def old_subsystem_version(data):
    _, _, opt = headers(data)
    struct.pack_into("<HH", data, opt + 48, 4, 0)


def writable_text(data):
    image, coff, opt = headers(data)
    first = opt + struct.unpack_from("<H", data, coff + 16)[0]
    for i, section in enumerate(image.sections):
        if section[0] == ".text":
            at = first + 40 * i + 36
            struct.pack_into("<I", data, at, struct.unpack_from("<I", data, at)[0] | check_pe.SCN_MEM_WRITE)
            return
    raise AssertionError("fixture has no .text section")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--machine", choices=sorted(check_pe.MACHINES), required=True)
    parser.add_argument("good")
    parser.add_argument("imports_advapi32")
    args = parser.parse_args()
    good = open(args.good, "rb").read()
    other_machine = "amd64" if args.machine == "i386" else "i386"

    # (case, bytes, machine expected by the checker, the checks that must fail)
    cases = [
        ("sound fixture", good, args.machine, set()),
        ("imports advapi32", open(args.imports_advapi32, "rb").read(), args.machine, {"import rule"}),
        # A 32-bit image checked as 64-bit also lacks high-entropy ASLR, which only 64-bit has.
        ("other architecture", good, other_machine,
         {"machine", "format"} | ({"high-entropy ASLR"} if other_machine == "amd64" else set())),
    ]
    patches = [
        ("link time stamp", set_timestamp, {"file header time stamp"}),
        ("no ASLR", clear_flag(check_pe.DYNAMIC_BASE), {"ASLR"}),
        ("no DEP", clear_flag(check_pe.NX_COMPAT), {"DEP"}),
        ("console subsystem", console_subsystem, {"subsystem"}),
        ("subsystem version 4.0", old_subsystem_version, {"subsystem version"}),
        ("writable code", writable_text, {"W^X sections"}),
    ]
    if args.machine == "amd64":
        patches.append(("no high-entropy ASLR", clear_flag(check_pe.HIGH_ENTROPY_VA), {"high-entropy ASLR"}))
    for name, patch, expected in patches:
        data = bytearray(good)
        patch(data)
        cases.append((name, bytes(data), args.machine, expected))

    wrong = 0
    for name, data, machine, expected in cases:
        failed = {check for check, passed, _ in check_pe.check(data, machine) if not passed}
        verdict = "ok  " if failed == expected else "FAIL"
        wrong += failed != expected
        print("%s %s: failed %s, expected %s" % (verdict, name, sorted(failed) or "nothing", sorted(expected) or "nothing"))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
