#!/usr/bin/env python3
"""Builds Velmora.exe of both architectures twice, from two copies of the source tree in
folders of different path lengths, and checks that each pair is byte-identical and that no
folder of either build appears in the program.

Usage: check_reproducible.py --cmake CMAKE SOURCE_DIR
"""
import argparse
import filecmp
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

PRESETS = ("windows-x86", "windows-x64")


def source_files(source):
    """The tree's files as a clone has them (plus files not yet committed), never build/."""
    try:
        listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                check=True, capture_output=True).stdout
        names = [n for n in listed.decode().split("\0") if n]
    except (OSError, subprocess.CalledProcessError):
        names = []
        for root, dirs, files in os.walk(source):
            dirs[:] = [d for d in dirs if not (root == source and d in ("build", ".git"))]
            names += [os.path.relpath(os.path.join(root, f), source) for f in files]
    return [n for n in names if not n.startswith("build/") and os.path.isfile(os.path.join(source, n))]


def copy_tree(source, files, target):
    for name in files:
        os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
        shutil.copy2(os.path.join(source, name), os.path.join(target, name))


def build(cmake, tree, preset):
    for step in ([cmake, "--preset", preset], [cmake, "--build", "--preset", preset, "--target", "Velmora", "-j", str(os.cpu_count() or 2)]):
        run = subprocess.run(step, cwd=tree, capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit("FAIL %s in %s:\n%s%s" % (" ".join(step), tree, run.stdout, run.stderr))
    return os.path.join(tree, "build", preset, "Velmora.exe")


def leaked_paths(data, paths):
    found = []
    for path in paths:
        for encoded in (path.encode(), path.encode("utf-16-le")):
            if encoded in data:
                found.append(path)
                break
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("source")
    args = parser.parse_args()
    source = os.path.abspath(args.source)
    files = source_files(source)

    failures = 0
    scratch = tempfile.mkdtemp(prefix="velmora-repro-")
    try:
        trees = [os.path.join(scratch, "a"), os.path.join(scratch, "a-much-longer-folder", "of", "the-second-build")]
        for tree in trees:
            copy_tree(source, files, tree)
        # Any of these in the binary would make it depend on where it was built.
        paths = trees + [source, scratch]
        for preset in PRESETS:
            first, second = (build(args.cmake, tree, preset) for tree in trees)
            same = filecmp.cmp(first, second, shallow=False)
            digest = hashlib.sha256(open(first, "rb").read()).hexdigest()
            print("%s %s: the two builds are %s (sha256 of the first %s)"
                  % ("ok  " if same else "FAIL", preset, "identical" if same else "different", digest))
            failures += not same
            for exe in (first, second):
                leaked = leaked_paths(open(exe, "rb").read(), paths)
                if leaked:
                    print("FAIL %s: %s contains the build path %s" % (preset, exe, ", ".join(leaked)))
                    failures += 1
            if same:
                continue
            # Say where they differ, to help whoever has to fix it.
            a, b = open(first, "rb").read(), open(second, "rb").read()
            offsets = [i for i in range(min(len(a), len(b))) if a[i] != b[i]]
            print("     sizes %d and %d; %d bytes differ, first at %s"
                  % (len(a), len(b), len(offsets), ", ".join("%#x" % o for o in offsets[:8])))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
