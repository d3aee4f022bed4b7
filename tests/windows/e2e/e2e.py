#!/usr/bin/env python3
"""End-to-end cases of Velmora.exe under 64-bit Wine on a private Xvfb display.

  e2e.py list                      the case names, one a line (CMake registers one test each)
  e2e.py setup WORK_DIR            start Xvfb, create the throwaway Wine prefix
  e2e.py case WORK_DIR NAME --program EXE --probe EXE --screenshots DIR
  e2e.py cleanup WORK_DIR          stop wineserver and Xvfb, remove the prefix

WORK_DIR holds one session folder per test run (prefix, Xvfb's state, logs).

Each case sets DigitalProductId with Wine's reg, runs VelmoraProbe.exe (which starts the program
and checks its window from outside) and, for some cases, takes a screenshot or checks that the
run wrote nothing.
"""
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

CURRENT_VERSION = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion"
# The DPI that Wine 8 applies to every process it starts (HKCU\Control Panel\Desktop is ignored).
DPI_KEY = r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"
COLORS_KEY = r"HKCU\Control Panel\Colors"
DECODE_ERROR = "Decode Error :("
SCREEN = (1024, 768)

# ---- the expected key, from an implementation of our own that shares nothing with the program --

ALPHABET = "BCDFGHJKMPQRTVWXY2346789"


def reference_key(value: bytes) -> str:
    """The key Windows shows for a DigitalProductId whose first 164 bytes are read."""
    key = (value[:164] + bytes(164))[52:67]
    number = int.from_bytes(key, "little")
    newer_layout = key[14] & 0x08
    if newer_layout:
        number &= ~(0x08 << (8 * 14))
    digits = []
    for _ in range(25):
        number, digit = divmod(number, 24)
        digits.insert(0, digit)
    symbols = [ALPHABET[d] for d in digits]
    if newer_layout:  # the leading digit says where the N goes among the other 24 symbols
        symbols = symbols[1:]
        symbols.insert(digits[0], "N")
    text = "".join(symbols)
    return "-".join(text[i:i + 5] for i in range(0, 25, 5))


# The real Windows 10 value (164 bytes), as a registry export prints it.
REAL_VALUE = bytes.fromhex((
    "A4,00,00,00,03,00,00,00,30,30,33,33,30,2D,38,30,30,30,30,2D,30,30,30,30,30,2D,41,41,32,38,31,00,"
    "EC,0C,00,00,5B,54,48,5D,58,31,39,2D,39,38,38,34,31,00,00,00,EC,0C,00,00,00,00,A8,D2,7B,6E,89,81,"
    "4F,6D,09,00,00,00,00,00,C5,6E,5C,61,B9,57,CE,71").replace(",", "")) + bytes(80) + bytes.fromhex("694A1B59")
N_FIRST_KEY = bytes.fromhex("679993DF1249D94FAB8F90D21F0008")
TEXT_VALUE = "Velmora reads this DigitalProductId stored as text (REG_SZ); bytes 52 to 66 are its key."

# Published pairs that the reference must reproduce before it may judge the program.
KNOWN_KEYS = [
    (REAL_VALUE, "VK7JG-NPHTM-C97JM-9MPGT-3V66T"),
    (REAL_VALUE[:52] + N_FIRST_KEY + REAL_VALUE[67:], "NBCDF-GHJKM-PQRTV-WXY23-46789"),
    (REAL_VALUE[:60], "BBBBB-BBBBB-B2KXP-YDGYG-23726"),
]

# ---- the cases -----------------------------------------------------------------------------------


@dataclass
class Case:
    value: object            # bytes (REG_BINARY), str (REG_SZ) or None (no value)
    end: str                 # how the probe ends the program: click, space or closebox
    expect: str = ""         # Text1's text; empty: the reference key of the value
    dpi: int = 96
    menu: str = "255 0 255"  # COLOR_MENU: unlike any other colour the window would otherwise use
    # COLOR_MENUTEXT, not black, so that text in it where black is meant shows.
    menu_text: str = "0 128 0"
    text: str = "0,0,0"      # the colour Text1's text must have
    screenshot: bool = False
    writes_nothing: bool = False

    def expected_text(self) -> str:
        if self.expect:
            return self.expect
        if isinstance(self.value, str):
            # RegQueryValueExA hands text over in the ANSI code page with its terminating NUL.
            return reference_key(self.value.encode("cp1252") + b"\0")
        return reference_key(self.value)


CASES = {
    # Windows 10's menu colour, so that the screenshot looks as the window does there.
    "windows10-key": Case(REAL_VALUE, "click", menu="240 240 240", screenshot=True),
    "windows8-n-first": Case(REAL_VALUE[:52] + N_FIRST_KEY + REAL_VALUE[67:], "space"),
    "value-absent": Case(None, "click", expect=DECODE_ERROR),
    "value-165-bytes": Case(REAL_VALUE + b"\x01", "space", expect=DECODE_ERROR),
    "value-60-bytes": Case(REAL_VALUE[:60], "click"),
    "value-as-text": Case(TEXT_VALUE, "space"),
    "dpi-144": Case(REAL_VALUE, "click", dpi=144, screenshot=True),
    "writes-nothing": Case(REAL_VALUE, "closebox", writes_nothing=True),
    # Black would vanish on a black menu colour (a high-contrast theme): the theme's menu text
    # colour stands in for it.
    "dark-menu-colour": Case(REAL_VALUE, "space", menu="0 0 0", menu_text="255 255 0", text="255,255,0"),
}

# ---- Wine and the display ------------------------------------------------------------------------


def log(text):
    print(text, flush=True)


def windows_path(path: Path) -> str:
    return "Z:" + str(path.resolve()).replace("/", "\\")


def wine_env(run_dir: Path, display: str) -> dict:
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(run_dir / "prefix"),
        "WINEARCH": "win64",
        "WINEDEBUG": "-all",
        # No Mono or Gecko prompts, and no menu entries or file associations written outside.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        "DISPLAY": display,
        # Wine links the prefix's user folders to the home's; keep the real home out of it.
        "HOME": str(run_dir / "home"),
        "XDG_CONFIG_HOME": str(run_dir / "home" / ".config"),
        "XDG_DATA_HOME": str(run_dir / "home" / ".local" / "share"),
        "XDG_CACHE_HOME": str(run_dir / "home" / ".cache"),
    })
    env.pop("WINESERVER", None)
    return env


def run(args, env, run_dir: Path, timeout=300, check=True):
    """Runs a command with its output in a file: Wine's helper processes inherit the output
    handles and can outlive the command, and a pipe would keep us (and CTest) waiting for them."""
    out_path = run_dir / "command.out"
    with open(out_path, "wb") as out:
        rc = subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                            timeout=timeout).returncode
    output = out_path.read_bytes().decode("utf-8", "replace")
    if check and rc != 0:
        raise SystemExit(f"FAIL {' '.join(map(str, args))}: exit code {rc}\n{output}")
    return rc, output


def load_state(run_dir: Path) -> dict:
    path = run_dir / "state.json"
    if not path.exists():
        raise SystemExit(f"FAIL no Wine prefix in {run_dir}: the setup test did not run or failed")
    return json.loads(path.read_text())


def stop_xvfb(pid: int):
    try:
        if b"Xvfb" not in Path(f"/proc/{pid}/cmdline").read_bytes():
            return  # not ours any more
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            os.kill(pid, 0)
            time.sleep(0.05)
        os.kill(pid, signal.SIGKILL)
    except (FileNotFoundError, ProcessLookupError):
        pass


def wine_fonts_dir() -> Path:
    for candidate in (Path("/usr/share/wine/fonts"), Path("/usr/lib/wine/fonts"), Path("/opt/wine/share/wine/fonts")):
        if (candidate / "tahoma.ttf").exists():
            return candidate
    raise SystemExit("FAIL Wine's Tahoma (package fonts-wine) is not installed")


def setup(run_dir: Path):
    cleanup(run_dir)  # whatever an interrupted run left behind
    (run_dir / "home").mkdir(parents=True)

    read_end, write_end = os.pipe()
    with open(run_dir / "xvfb.log", "wb") as xvfb_log:
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp",
             "-noreset"], stdin=subprocess.DEVNULL, stdout=xvfb_log, stderr=subprocess.STDOUT, pass_fds=(write_end,),
            start_new_session=True)
    os.close(write_end)
    number = b""
    deadline = time.time() + 60
    while not number.endswith(b"\n") and time.time() < deadline:
        ready, _, _ = select.select([read_end], [], [], 1.0)
        if ready:
            chunk = os.read(read_end, 16)
            if not chunk:
                break  # Xvfb ended
            number += chunk
    os.close(read_end)
    if not number.strip():
        xvfb.kill()
        raise SystemExit("FAIL Xvfb did not start:\n" + (run_dir / "xvfb.log").read_text())
    display = ":" + number.decode().strip()
    state = {"display": display, "xvfb_pid": xvfb.pid}
    (run_dir / "state.json").write_text(json.dumps(state))
    log(f"Xvfb on {display}, pid {xvfb.pid}")

    env = wine_env(run_dir, display)
    started = time.time()
    run(["wine", "wineboot", "-i"], env, run_dir, timeout=600)
    # This Debian build of Wine does not find the fonts of its own data folder, so programs would
    # get a substitute for Tahoma (and the caption buttons lose their Marlett glyphs). Windows
    # has these fonts; put them where Wine looks, in the prefix's Fonts folder.
    fonts = run_dir / "prefix" / "drive_c" / "windows" / "Fonts"
    fonts.mkdir(parents=True, exist_ok=True)
    for font in wine_fonts_dir().glob("*.ttf"):
        if not (fonts / font.name).exists():
            (fonts / font.name).symlink_to(font)
    # A virtual desktop gives foreground, input and the caption without a window manager.
    settings = run_dir / "settings.reg"
    settings.write_text("\r\n".join([
        "Windows Registry Editor Version 5.00", "",
        r"[HKEY_CURRENT_USER\Software\Wine\Explorer]", '"Desktop"="Default"', "",
        r"[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]", f'"Default"="{SCREEN[0]}x{SCREEN[1]}"', "",
        # Not black, so that text drawn in the system's text colour instead of black shows.
        r"[HKEY_CURRENT_USER\Control Panel\Colors]", '"WindowText"="0 0 160"', "", ""]))
    run(["wine", "reg", "import", windows_path(settings)], env, run_dir)
    run(["wineserver", "-w"], env, run_dir)  # everything ends and the registry is saved
    # One server for all cases, so that no case waits for a server to linger and quit.
    start_server(env)
    log(f"Wine prefix {run_dir / 'prefix'} ready in {time.time() - started:.0f} s")


def start_server(env):
    subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True, start_new_session=True)


def restart_session(env, run_dir):
    run(["wineserver", "-k"], env, run_dir, timeout=60, check=False)
    run(["wineserver", "-w"], env, run_dir, timeout=60, check=False)
    start_server(env)


def cleanup(run_dir: Path):
    state_path = run_dir / "state.json"
    if state_path.exists():
        state = json.loads(state_path.read_text())
        if (run_dir / "prefix").exists():
            try:
                run(["wineserver", "-k"], wine_env(run_dir, state["display"]), run_dir, timeout=60, check=False)
            except subprocess.TimeoutExpired:
                log("wineserver -k timed out")
        stop_xvfb(state["xvfb_pid"])
    if run_dir.exists():
        shutil.rmtree(run_dir)

# ---- one case ------------------------------------------------------------------------------------


def reg(env, run_dir, *args, check=True):
    return run(["wine", "reg", *args], env, run_dir, check=check)


def set_value(env, run_dir, value):
    if value is None:
        reg(env, run_dir, "delete", CURRENT_VERSION, "/v", "DigitalProductId", "/f", "/reg:64", check=False)
    elif isinstance(value, str):
        reg(env, run_dir, "add", CURRENT_VERSION, "/v", "DigitalProductId", "/t", "REG_SZ", "/d", value, "/f", "/reg:64")
    else:
        reg(env, run_dir, "add", CURRENT_VERSION, "/v", "DigitalProductId", "/t", "REG_BINARY", "/d", value.hex(),
            "/f", "/reg:64")


def stored_value(env, run_dir):
    """DigitalProductId as Wine holds it now: (type, bytes or text), or None if absent."""
    rc, output = reg(env, run_dir, "query", CURRENT_VERSION, "/v", "DigitalProductId", "/reg:64", check=False)
    if rc != 0:
        return None
    for line in output.splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == "DigitalProductId":
            data = parts[2] if len(parts) == 3 else ""
            return (parts[1], bytes.fromhex(data) if parts[1] == "REG_BINARY" else data)
    raise SystemExit("FAIL cannot read reg query's answer:\n" + output)


def expected_stored(value):
    if value is None:
        return None
    return ("REG_SZ", value) if isinstance(value, str) else ("REG_BINARY", value)


def export(env, run_dir, key, name) -> bytes:
    path = run_dir / name
    reg(env, run_dir, "export", key, windows_path(path), "/y", "/reg:64")
    return path.read_bytes()


def listing(root: Path, skip=()) -> dict:
    found = {}
    for path in sorted(root.rglob("*")):
        relative = path.relative_to(root).as_posix()
        if any(relative == s or relative.startswith(s + "/") for s in skip):
            continue
        info = path.lstat()
        found[relative] = (info.st_size, info.st_mtime_ns) if path.is_file() and not path.is_symlink() else None
    return found


def compare_listing(name, before: dict, after: dict) -> bool:
    added = sorted(set(after) - set(before))
    removed = sorted(set(before) - set(after))
    changed = sorted(p for p in set(before) & set(after) if before[p] != after[p])
    ok = not (added or removed or changed)
    log(("ok   " if ok else "FAIL ") + f"nothing written in {name}" +
        ("" if ok else f": added {added[:10]}, removed {removed[:10]}, changed {changed[:10]}"))
    return ok


def registry_text(data: bytes, skip_prefixes=()) -> list:
    text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("utf-8", "replace")
    kept, skipping = [], False
    for line in text.splitlines():
        if line.startswith("["):
            skipping = any(line[1:].startswith(p) for p in skip_prefixes)
        if not skipping:
            kept.append(line)
    return kept


def compare_export(name, before: bytes, after: bytes, skip_prefixes=()) -> bool:
    a, b = registry_text(before, skip_prefixes), registry_text(after, skip_prefixes)
    ok = a == b
    detail = ""
    if not ok:
        import difflib
        detail = ":\n" + "\n".join(list(difflib.unified_diff(a, b, "before", "after", lineterm="", n=1))[:30])
    log(("ok   " if ok else "FAIL ") + f"{name} unchanged" + detail)
    return ok


def take_screenshot(display, rect, out: Path) -> bool:
    x, y, w, h = rect
    x, y = max(x, 0), max(y, 0)
    w, h = min(w, SCREEN[0] - x), min(h, SCREEN[1] - y)
    out.parent.mkdir(parents=True, exist_ok=True)
    rc = subprocess.run(["import", "-display", display, "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                         str(out)], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    ok = rc.returncode == 0 and out.exists() and out.stat().st_size > 0
    log(("ok   " if ok else "FAIL ") + f"screenshot {out}" + ("" if ok else f": {rc.stderr.decode(errors='replace')}"))
    return ok


def run_probe(env, run_dir, name, args, display, screenshot: Path = None) -> bool:
    probe_log = run_dir / f"{name}.probe.log"
    hold = run_dir / f"{name}.hold"
    hold.unlink(missing_ok=True)
    if screenshot:
        args = args + ["--hold", windows_path(hold)]
    ok = True
    with open(probe_log, "wb") as out:
        probe = subprocess.Popen(["wine", *args], env=env, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=subprocess.STDOUT)
        try:
            if screenshot:
                rect = None
                deadline = time.time() + 180
                while rect is None and time.time() < deadline and probe.poll() is None:
                    for line in probe_log.read_text(errors="replace").splitlines():
                        if line.startswith("hold: "):
                            rect = tuple(int(v) for v in line.split()[1:5])
                    time.sleep(0.1)
                if rect is not None:
                    ok = take_screenshot(display, rect, screenshot) and ok
                else:
                    log("FAIL the probe never said where the window is")
                    ok = False
                hold.write_text("taken\n")
            rc = probe.wait(timeout=300)
        except subprocess.TimeoutExpired:
            probe.kill()
            rc = "timeout"
    log(probe_log.read_text(errors="replace").rstrip())
    if rc != 0:
        log(f"FAIL the probe ended with {rc}")
    return ok and rc == 0


def check_reference():
    for value, key in KNOWN_KEYS:
        if reference_key(value) != key:
            raise SystemExit(f"FAIL the reference decoder gives {reference_key(value)} instead of {key}")


def case(run_dir: Path, name: str, program: Path, probe: Path, screenshots: Path):
    check_reference()
    wanted = CASES[name]
    state = load_state(run_dir)
    env = wine_env(run_dir, state["display"])
    prefix = run_dir / "prefix"

    reg(env, run_dir, "add", DPI_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(wanted.dpi), "/f")
    if state.get("dpi", 96) != wanted.dpi:
        # Like signing out and in on Windows: processes that are already running, the virtual
        # desktop among them, keep the DPI they started with, so start the session afresh.
        restart_session(env, run_dir)
        state["dpi"] = wanted.dpi
        (run_dir / "state.json").write_text(json.dumps(state))
        _, output = reg(env, run_dir, "query", DPI_KEY, "/v", "LogPixels")
        if f"0x{wanted.dpi:x}" not in output:
            raise SystemExit(f"FAIL LogPixels did not survive the restart:\n{output}")
    reg(env, run_dir, "add", COLORS_KEY, "/v", "Menu", "/t", "REG_SZ", "/d", wanted.menu, "/f")
    reg(env, run_dir, "add", COLORS_KEY, "/v", "MenuText", "/t", "REG_SZ", "/d", wanted.menu_text, "/f")
    set_value(env, run_dir, wanted.value)
    stored = stored_value(env, run_dir)
    if stored != expected_stored(wanted.value):
        raise SystemExit(f"FAIL DigitalProductId was not stored as meant: {stored}")
    expected = wanted.expected_text()
    log(f"case {name}: DigitalProductId {describe(wanted.value)}; expecting \"{expected}\" at {wanted.dpi} DPI")

    if wanted.writes_nothing:
        # The program runs from a copy alone in a fresh folder, so anything written beside it shows.
        folder = run_dir / f"{name}.app"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir()
        shutil.copy2(program, folder / program.name)
        program = folder / program.name
        key_before = export(env, run_dir, CURRENT_VERSION, "before-current-version.reg")
        hkcu_before = export(env, run_dir, r"HKCU\Software", "before-hkcu.reg")
        # Nothing is left out: a run of the program and the probe touches no file in drive_c
        # (Wine's own writes go to the registry files beside it, which are not compared).
        drive_before = listing(prefix / "drive_c")
        folder_before = listing(folder)

    args = [windows_path(probe), "--exe", windows_path(program), "--expect", expected, "--dpi", str(wanted.dpi),
            "--end", wanted.end, "--text-colour", wanted.text]
    ok = run_probe(env, run_dir, name, args, state["display"], screenshots / f"{name}.png" if wanted.screenshot else None)

    if wanted.writes_nothing:
        ok = compare_export(r"export of " + CURRENT_VERSION, key_before,
                            export(env, run_dir, CURRENT_VERSION, "after-current-version.reg")) and ok
        # Wine keeps the system parameters it has applied (the probe moves the mouse) here.
        ok = compare_export(r"export of HKCU\Software", hkcu_before, export(env, run_dir, r"HKCU\Software", "after-hkcu.reg"),
                            skip_prefixes=(r"HKEY_CURRENT_USER\Software\Wine\Temporary System Parameters",)) and ok
        after = stored_value(env, run_dir)
        same = after == expected_stored(wanted.value)
        log(("ok   " if same else "FAIL ") + "DigitalProductId unchanged byte for byte" + ("" if same else f": now {after}"))
        ok = same and ok
        ok = compare_listing("the prefix's drive_c", drive_before, listing(prefix / "drive_c")) and ok
        ok = compare_listing("the program's folder", folder_before, listing(folder)) and ok
    log(f"case {name}: " + ("passed" if ok else "FAILED"))
    return 0 if ok else 1


def describe(value):
    if value is None:
        return "absent"
    if isinstance(value, str):
        return f"REG_SZ of {len(value)} characters"
    return f"REG_BINARY of {len(value)} bytes"


def session_dir(work: Path) -> Path:
    """The prefix and display of one test run: CTest starts setup, cases and cleanup alike, so
    its process id tells two runs in the same build folder apart."""
    return work / f"session-{os.getppid()}"


def remove_stale_sessions(work: Path):
    for old in work.glob("session-*"):
        pid = old.name.split("-", 1)[1]
        if not (pid.isdigit() and Path(f"/proc/{pid}").exists()):
            cleanup(old)


def main(argv):
    if argv[1:2] == ["list"]:
        print(";".join(CASES))
        return 0
    if len(argv) == 3 and argv[1] in ("setup", "cleanup"):
        work = Path(argv[2]).resolve()
        if argv[1] == "setup":
            remove_stale_sessions(work)
            setup(session_dir(work))
        else:
            cleanup(session_dir(work))
        return 0
    if len(argv) == 10 and argv[1] == "case" and argv[4:9:2] == ["--program", "--probe", "--screenshots"]:
        return case(session_dir(Path(argv[2]).resolve()), argv[3], Path(argv[5]).resolve(), Path(argv[7]).resolve(),
                    Path(argv[9]).resolve())
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
