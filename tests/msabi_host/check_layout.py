#!/usr/bin/env python3
"""Checks the Windows host header's tables as a Microsoft-ABI compiler lays
them out.

Compiles tests/msabi_host/LayoutProbe.cpp (which includes
include/versewell/plugin_windows.h) with clang for TARGET and
-fdump-vtable-layouts, and compares each interface's table, slot by slot,
with slots.txt, and with the adapter's own tables in the DLL's sources
(platform/win32/msabi/MsLayout.h: SPluginTable, SHostCallbackTable,
SHostIgnoreTable, function pointers in slot order). Then reads the object's symbols: on i686 every override must
be a public virtual __thiscall ("UAE" in the decorated name) and the
destructor entry a scalar deleting destructor taking an unsigned int and
returning void* ("??_G...UAEPAXI@Z"); on x86_64 the same with "UEAA".

usage: check_layout.py TARGET (i686 | x86_64) [--clang clang++-14] [--nm llvm-nm-14]
Exit code 0 when everything agrees; the differences otherwise.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def expected_slots():
    tables = {}
    with open(os.path.join(HERE, "slots.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            name, slots = line.split(":", 1)
            tables[name.strip()] = slots.split()
    return tables


ADAPTER_LAYOUT = os.path.join(ROOT, "platform", "win32", "msabi", "MsLayout.h")
ADAPTER_TABLES = {"SPluginTable": "CLyricsDllInterface", "SHostCallbackTable": "CHostCallback",
                  "SHostIgnoreTable": "CHostIgnore"}


def adapter_slots():
    """The adapter's hand-made tables, as slot names ("~" for the destructor)."""
    with open(ADAPTER_LAYOUT, encoding="utf-8") as f:
        text = f.read()
    tables = {}
    for struct, interface in ADAPTER_TABLES.items():
        body = re.search(r"struct %s \{(.*?)\n\};" % struct, text, re.S)
        if body:
            names = re.findall(r"\(\s*MSABI_THISCALL\s*\*\s*(\w+)\s*\)", body.group(1))
            tables[interface] = ["~" if n == "ScalarDeletingDtor" else n for n in names]
    return tables


def dumped_slots(dump):
    """The first 'VFTable for X (N entries)' block of each class, as names."""
    tables = {}
    current = None
    for line in dump.splitlines():
        header = re.match(r"VFTable for '([^']+)' \((\d+) entries\)\.", line)
        if header:
            current = header.group(1) if header.group(1) not in tables else None
            if current:
                tables[current] = []
            continue
        entry = re.match(r"\s+(\d+) \| (.*)$", line)
        if current and entry:
            text = entry.group(2)
            if "[scalar deleting]" in text:
                name = "~"
            else:
                name = re.search(r"(\w+)\(", text).group(1)
            tables[current].append((int(entry.group(1)), name))
        elif not line.strip():
            current = None
    return {k: [n for _, n in sorted(v)] for k, v in tables.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("target", choices=["i686", "x86_64"])
    parser.add_argument("--clang", default="clang++-14")
    parser.add_argument("--nm", default="llvm-nm-14")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="versewell-layout-") as tmp:
        obj = os.path.join(tmp, "probe.obj")
        r = subprocess.run([args.clang, "--target=%s-pc-windows-msvc" % args.target, "-std=c++17", "-fno-exceptions",
                            "-fno-rtti", "-ffreestanding", "-I", os.path.join(ROOT, "include"),
                            "-Xclang", "-fdump-vtable-layouts", "-c", os.path.join(HERE, "LayoutProbe.cpp"),
                            "-o", obj], capture_output=True, text=True)
        if r.returncode != 0:
            print(r.stderr)
            return 1
        symbols = subprocess.run([args.nm, obj], capture_output=True, text=True, check=True).stdout
    problems = []
    dumped = dumped_slots(r.stdout)
    expected = expected_slots()
    for name, slots in expected.items():
        got = dumped.get(name)
        if got != slots:
            problems.append("%s: expected %s, laid out %s" % (name, slots, got))
    adapter = "no adapter tables in this tree"
    if os.path.exists(ADAPTER_LAYOUT):
        tables = adapter_slots()
        adapter = "adapter tables compared: %s" % ", ".join(sorted(tables))
        for name, slots in expected.items():
            if tables.get(name) != slots:
                problems.append("%s: expected %s, the adapter's table has %s" % (name, slots, tables.get(name)))
    convention = "UAE" if args.target == "i686" else "UEAA"
    methods = [s.split()[-1] for s in symbols.splitlines() if "CProbe" in s and not s.split()[-1].startswith("??_7")]
    for m in methods:
        if m.startswith("??0"):  # constructors are not virtual
            continue
        if "@@" + convention not in m:
            problems.append("not a virtual %s member: %s" % ("__thiscall" if args.target == "i686" else "x64", m))
        if m.startswith("??_G") and not m.endswith(convention + ("PAXI@Z" if args.target == "i686" else "PEAXI@Z")):
            problems.append("slot 0 is not void* (unsigned int): %s" % m)
    if not any(m.startswith("??_GCProbePlugin") for m in methods):
        problems.append("no scalar deleting destructor for the plug-in interface")
    for p in problems:
        print("layout: " + p)
    print("layout %s: %d tables, %d members checked, %s; %s" % (args.target, len(dumped), len(methods), adapter,
                                                                "ok" if not problems else "FAILED"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
