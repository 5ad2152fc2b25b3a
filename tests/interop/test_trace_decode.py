#!/usr/bin/python3
"""Makes the installed VmOfcX.dll write a trace and reads it with a decoder written from
docs/trace-format.md alone (nothing shared with the C++ code).

Usage: test_trace_decode.py BUILD_DIR, inside a Wine session whose prefix has the module installed.
Switches tracing on in the prefix's registry, runs regsvr32 on the module, and switches it off again.
"""
import os
import pathlib
import re
import struct
import subprocess
import sys

TRACING_KEY = r"HKLM\SOFTWARE\Velmora\Tracing"
MODULE_WIN = r"C:\Program Files\Velmora\Tessaly\VmOfcX.dll"
MODULE_DIR = pathlib.Path(os.environ.get("WINEPREFIX", "")) / "drive_c/Program Files/Velmora/Tessaly"

KEY = (0x429FF824, 0x87ACDD16, 0xAE5D2ECF, 0x5FE6A16D)
IV = struct.pack("<2I", 0x6B1D4F93, 0x2E8C07D5)
MASK = 0xFFFFFFFF
TEXT_FORMS = {
    "t": r"\d\d/\d\d/\d\d",
    "T": r"\d\d:\d\d:\d\d\.\d{3}",
    "N": r"\d\d-\d\d-\d{4}",
    "E": r"-?\d+ .*",
}


def shift_right_arithmetic(x, bits):
    return (((x ^ 0x80000000) - 0x80000000) >> bits) & MASK


def tea_block(register):
    y, z = struct.unpack("<2I", register)
    total = 0
    for _ in range(32):
        total = (total + 0x9E3779B9) & MASK
        y = (y + ((((z << 4) & MASK) + KEY[0]) ^ ((z + total) & MASK) ^ (shift_right_arithmetic(z, 5) + KEY[1]))) & MASK
        z = (z + ((((y << 4) & MASK) + KEY[2]) ^ ((y + total) & MASK) ^ (shift_right_arithmetic(y, 5) + KEY[3]))) & MASK
    return struct.pack("<2I", y, z)


def decipher(data):
    register = IV
    plain = bytearray()
    for start in range(0, len(data), 8):
        segment = data[start : start + 8]
        register = tea_block(register)
        plain += bytes(c ^ r for c, r in zip(segment, register))
        register = segment + register[len(segment) :]
    return bytes(plain)


class Trace:
    """Header lines and records (offset, thread id, kind, text) of one file."""

    def __init__(self, data):
        end = data.find(b"\r\n.\r\n")
        assert data.startswith(b"trace3\r\n") and end >= 0, "no header"
        self.header = data[: end + 2].decode("ascii").split("\r\n")[:-1] + ["."]
        self.records = []
        offset = end + 5
        while offset < len(data):
            assert len(data) - offset >= 7, f"truncated record head at {offset}"
            thread, kind, length = struct.unpack_from("<IcH", data, offset)
            text = data[offset + 7 : offset + 7 + length]
            assert len(text) == length, f"truncated record text at {offset}"
            try:
                self.records.append((offset, thread, kind.decode("latin-1"), decipher(text).decode("utf-8")))
            except UnicodeDecodeError:
                raise AssertionError(f"record text at {offset} is not UTF-8") from None
            offset += 7 + length

    def kinds(self):
        return "".join(kind for _, _, kind, _ in self.records)

    def texts(self, wanted):
        return [text for _, _, kind, text in self.records if kind == wanted]


def wine(*args):
    return subprocess.run(["wine", *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def set_tracing(name, value):
    assert wine("reg", "add", TRACING_KEY, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f", "/reg:64") == 0


def clear_tracing(name):
    wine("reg", "delete", TRACING_KEY, "/v", name, "/f", "/reg:64")


def trace_files():
    return sorted(MODULE_DIR.glob("regsvr32.VmOfcX.dll.x64.*.trc3"))


def register_module():
    wine("regsvr32", "/s", MODULE_WIN)


def outermost_scopes(records):
    """Checks kinds, texts and that every thread's entries and exits pair up; returns the outermost entries."""
    open_scopes = {}
    outermost = []
    for offset, thread, kind, text in records:
        assert kind in "><UEtTN", f"unknown kind {kind!r} at {offset}"
        if kind in TEXT_FORMS:
            assert re.fullmatch(TEXT_FORMS[kind], text), f"{kind} record {text!r} at {offset}"
        stack = open_scopes.setdefault(thread, [])
        if kind == ">":
            if not stack:
                outermost.append(text)
            stack.append(text)
        elif kind == "<":
            assert text == "", f"exit with text at {offset}"
            assert stack, f"exit without entry at {offset}"
            stack.pop()
    assert all(not stack for stack in open_scopes.values()), f"unclosed scopes {open_scopes}"
    return outermost


def test_header(trace, build_dir):
    header = trace.header
    version = re.search(r"CMAKE_PROJECT_VERSION:STATIC=(\S+)", (build_dir / "CMakeCache.txt").read_text()).group(1)
    assert header[0] == "trace3", header
    assert re.fullmatch(r"Compiled: [A-Z][a-z]{2} [ \d]\d \d{4} \d\d:\d\d:\d\d", header[1]), header[1]
    assert header[2].startswith("OS: ") and header[3].startswith("ServicePack: "), header
    assert header[4].startswith("Machine name: ") and header[5] == "Trace Ver: 3.0.1", header
    assert header[6] == f"FileVersion: {version}", header[6]
    assert all(line.startswith("Product") for line in header[7:-3]) and len(header) >= 11, header
    assert header[-3] in ("installation: LOCAL", "installation: NETWORK"), header[-3]
    assert re.fullmatch(r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}", header[-2]), header[-2]


def test_records(trace, build_dir):
    assert trace.kinds().startswith("tT>"), trace.kinds()[:10]
    assert "::DllRegisterServer" in outermost_scopes(trace.records), trace.texts(">")[:5]


def test_second_process_appends(trace, build_dir):
    set_tracing("NewFileAlways", 0)
    try:
        register_module()
    finally:
        clear_tracing("NewFileAlways")
    appended = Trace(trace_files()[0].read_bytes())
    assert appended.header == trace.header, "the file was started anew"
    assert appended.records[: len(trace.records)] == trace.records
    added = appended.records[len(trace.records) :]
    assert "".join(kind for _, _, kind, _ in added[:4]) == "NtT>", added[:4]
    assert "::DllRegisterServer" in outermost_scopes(added), added[:5]


def test_nothing_written_when_off(trace, build_dir):
    for path in trace_files():
        path.unlink()
    clear_tracing("DoTrace")
    register_module()
    assert not trace_files(), trace_files()


def main():
    build_dir = pathlib.Path(sys.argv[1]).resolve()
    created_key = wine("reg", "query", TRACING_KEY, "/reg:64") != 0
    for path in trace_files():
        path.unlink()
    passed = failed = 0
    try:
        set_tracing("DoTrace", 1)
        register_module()
        files = trace_files()
        assert len(files) == 1 and re.fullmatch(r"regsvr32\.VmOfcX\.dll\.x64\.\d+\.trc3", files[0].name), files
        trace = Trace(files[0].read_bytes())
        for test in (test_header, test_records, test_second_process_appends, test_nothing_written_when_off):
            try:
                test(trace, build_dir)
                print(f"PASS {test.__name__}")
                passed += 1
            except AssertionError as error:
                print(f"FAIL {test.__name__}: {error}")
                failed += 1
    except AssertionError as error:
        print(f"FAIL writing the first trace: {error}")
        failed += 1
    finally:
        clear_tracing("DoTrace")
        if created_key:
            wine("reg", "delete", TRACING_KEY, "/f", "/reg:64")
        for path in trace_files():
            path.unlink()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
