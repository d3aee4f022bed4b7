#!/usr/bin/env python3
"""Checks the PE headers of a Velmora.exe build: machine, GUI subsystem, ASLR and DEP, no
writable code, no time stamps, and that it imports only Windows' own DLLs and not advapi32
(the lookup binds that by name at its first call).

Usage: check_pe.py --machine i386|amd64 FILE.exe
Prints one line per check and exits 1 if any fails.
"""
import argparse
import struct
import sys

MACHINES = {"i386": 0x014C, "amd64": 0x8664}
SUBSYSTEM_WINDOWS_GUI = 2
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
HIGH_ENTROPY_VA = 0x0020
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
DIR_IMPORT, DIR_DEBUG, DIR_DELAY_IMPORT = 1, 6, 13

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "comctl32.dll"}


class BadImage(Exception):
    pass


class Image:
    """The parts of a PE file's headers that the checks read."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise BadImage("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadImage("no PE signature")
        coff = pe + 4
        (self.machine, sections, self.timestamp, _, _, optional_size, _) = struct.unpack_from("<HHIIIHH", data, coff)
        opt = coff + 20
        self.magic = self.u16(opt)
        if self.magic not in (0x10B, 0x20B):
            raise BadImage("unknown optional header magic %#x" % self.magic)
        self.subsystem = self.u16(opt + 68)
        self.subsystem_version = (self.u16(opt + 48), self.u16(opt + 50))
        self.dll_characteristics = self.u16(opt + 70)
        dirs = opt + (92 if self.magic == 0x10B else 108)
        count = self.u32(dirs)
        self.directories = [struct.unpack_from("<II", data, dirs + 4 + 8 * i) for i in range(count)]
        self.sections = []
        first = opt + optional_size
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, first + 40 * i)
            flags = self.u32(first + 40 * i + 36)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), vaddr, max(vsize, rawsize),
                                  rawptr, flags))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for _, vaddr, size, rawptr, _ in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise BadImage("address %#x is in no section" % rva)

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii", "replace")

    def imported_dlls(self, index, entry_size, name_field):
        """Names from an import-style table of entry_size-byte entries ending in a zero entry."""
        rva, _ = self.directory(index)
        names = []
        if rva == 0:
            return names
        at = self.offset(rva)
        while True:
            entry = self.data[at:at + entry_size]
            if len(entry) < entry_size or not any(entry):
                return names
            names.append(self.string(struct.unpack_from("<I", entry, name_field)[0]))
            at += entry_size

    def debug_timestamps(self):
        rva, size = self.directory(DIR_DEBUG)
        if rva == 0:
            return []
        at = self.offset(rva)
        return [self.u32(at + 28 * i + 4) for i in range(size // 28)]


def check(data, machine):
    """Returns a list of (check name, passed, detail)."""
    image = Image(data)
    wide = machine == "amd64"
    results = []

    def record(name, passed, detail):
        results.append((name, bool(passed), detail))

    record("machine", image.machine == MACHINES[machine],
           "%#06x, expected %#06x (%s)" % (image.machine, MACHINES[machine], machine))
    record("format", image.magic == (0x20B if wide else 0x10B), "optional header magic %#x" % image.magic)
    record("subsystem", image.subsystem == SUBSYSTEM_WINDOWS_GUI, "%d, expected 2 (Windows GUI)" % image.subsystem)
    record("subsystem version", image.subsystem_version >= (6, 1),
           "%d.%d, expected 6.1 (Windows 7) or later" % image.subsystem_version)
    flags = image.dll_characteristics
    record("ASLR", flags & DYNAMIC_BASE, "DllCharacteristics %#06x needs DYNAMIC_BASE" % flags)
    record("DEP", flags & NX_COMPAT, "DllCharacteristics %#06x needs NX_COMPAT" % flags)
    if wide:
        record("high-entropy ASLR", flags & HIGH_ENTROPY_VA, "DllCharacteristics %#06x needs HIGH_ENTROPY_VA" % flags)
    wx = [name for name, _, _, _, f in image.sections if f & SCN_MEM_WRITE and f & SCN_MEM_EXECUTE]
    record("W^X sections", not wx, "writable and executable: %s" % (", ".join(wx) or "none"))
    record("file header time stamp", image.timestamp == 0, "TimeDateStamp %#x" % image.timestamp)
    stamps = [s for s in image.debug_timestamps() if s != 0]
    record("debug directory time stamps", not stamps, "non-zero: %s" % (", ".join("%#x" % s for s in stamps) or "none"))

    imported = image.imported_dlls(DIR_IMPORT, 20, 12) + image.imported_dlls(DIR_DELAY_IMPORT, 32, 4)
    lowered = sorted({name.lower() for name in imported})
    foreign = [name for name in lowered if name not in ALLOWED_DLLS]
    record("import rule", lowered and not foreign,
           "imports %s; not allowed: %s" % (", ".join(lowered) or "nothing", ", ".join(foreign) or "none"))
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("file")
    args = parser.parse_args()
    with open(args.file, "rb") as f:
        data = f.read()
    try:
        results = check(data, args.machine)
    except (BadImage, struct.error, ValueError) as error:
        print("FAIL %s: not a readable PE image (%s)" % (args.file, error))
        return 1
    for name, passed, detail in results:
        print("%s %s: %s" % ("ok  " if passed else "FAIL", name, detail))
    return 0 if all(passed for _, passed, _ in results) else 1


if __name__ == "__main__":
    sys.exit(main())
