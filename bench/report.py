#!/usr/bin/python3
"""The benchmark table: every figure beside its reference, the ratio and the target.

Usage: report.py RESULTS-DIR
Reads the JSON files that run.sh leaves there (codec.json, keyboard.json, jack.json,
localpane.json, startup.json, monitor.json; any may be missing) and jack-kbxtool.txt, and prints
a Markdown table.
"""
import json
import os
import sys


def load(folder, name):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        doc = json.load(f)
    found = {}
    for b in doc.get("benchmarks", []):
        if b.get("run_type", "iteration") != "iteration":
            continue
        found[b["name"]] = b
    return found


def find(results, prefix):
    for name, b in results.items():
        if name.startswith(prefix):
            return b
    return None


def ms(b):
    """Time per iteration in milliseconds, whatever unit the benchmark chose."""
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
    return b["real_time"] * scale


def fmt(value, unit=""):
    if value is None:
        return "–"
    if abs(value) >= 100:
        text = f"{value:,.0f}"
    elif abs(value) >= 10:
        text = f"{value:.1f}"
    elif abs(value) >= 0.1:
        text = f"{value:.2f}"
    else:
        text = f"{value:.3g}"
    return text + (f" {unit}" if unit else "")


rows = []


def row(figure, measured, reference, ratio, target, met):
    verdict = "–" if met is None else ("met" if met else "**missed**")
    rows.append((figure, measured, reference, ratio, target, verdict))


def failed(figure, b):
    rows.append((figure, "error: " + b.get("error_message", "?"), "", "", "", "**failed**"))


def main():
    folder = sys.argv[1]
    codec = load(folder, "codec.json")
    kbd = load(folder, "keyboard.json")
    jack = load(folder, "jack.json")
    pane = load(folder, "localpane.json")
    start = load(folder, "startup.json")
    monitor = load(folder, "monitor.json")
    wholekbd = load(folder, "wholekbd.json")

    b = find(codec, "BM_EncodeDecodeFullBlock")
    if b:
        rate = b.get("bytes_per_second", 0)
        row("1 codec: encode + decode of a 207-byte block", fmt(rate / 1e6, "MB/s"),
            "wire 3125 B/s", fmt(rate / 3125.0) + " x", "–", None)

    for name, figure, target in [
        ("BM_List/virtual", "2 list, no latency (54 exchanges)", 5.0),
        ("BM_SendSong21504/virtual", "3 send 21504 bytes, no latency (171 exchanges)", 30.0),
        ("BM_ImportSong21504/virtual", "3 import 21504 bytes, no latency (169 exchanges)", 30.0),
    ]:
        b = find(kbd, name)
        if not b:
            continue
        if b.get("error_occurred"):
            failed(figure, b)
            continue
        t = ms(b)
        row(figure, fmt(t, "ms"), f"target {fmt(target, 'ms')}; wire {fmt(b['wire_ms'], 'ms')}",
            f"{fmt(t / target)} of target; {fmt(100 * t / b['wire_ms'])} % of wire",
            f"< {fmt(target, 'ms')}", t < target)

    for name, figure in [
        ("BM_SendSong21504/wire", "4 send 21504 bytes at 31250 baud"),
        ("BM_ImportSong21504/wire", "4 import 21504 bytes at 31250 baud"),
        ("BM_List/wire", "(extra) list at 31250 baud"),
    ]:
        b = find(kbd, name)
        if not b:
            continue
        if b.get("error_occurred"):
            failed(figure, b)
            continue
        t = ms(b)
        ratio = t / b["wire_ms"]
        extra = name.startswith("BM_List")
        row(figure, fmt(t, "ms"), f"wire {fmt(b['wire_ms'], 'ms')} ({int(b['wire_bytes'])} bytes)",
            f"{ratio:.4f} (+{fmt(t - b['wire_ms'], 'ms')})", "–" if extra else "≤ 1.03",
            None if extra else ratio <= 1.03)

    # The safety net's snapshot: what keeping the old song adds to a replacement, against the
    # wire time of the snapshot's messages (an import's) and against an import measured alike.
    for pace, label, number in [("virtual", "no latency", 3), ("wire", "at 31250 baud", 4)]:
        plain = find(kbd, f"BM_ReplaceSong21504/plain/{pace}")
        kept = find(kbd, f"BM_ReplaceSong21504/kept/{pace}")
        imported = find(kbd, f"BM_ImportSong21504/{pace}")
        if not plain or not kept:
            continue
        if plain.get("error_occurred") or kept.get("error_occurred"):
            failed(f"{number} replace a 21504-byte song {label}",
                   kept if kept.get("error_occurred") else plain)
            continue
        tp, tk = ms(plain), ms(kept)
        row(f"{number} replace a 21504-byte song {label}, nothing kept", fmt(tp, "ms"),
            f"wire {fmt(plain['wire_ms'], 'ms')}", f"{tp / plain['wire_ms']:.4f} of wire", "–", None)
        extra = tk - tp
        snapshot = kept["snapshot_wire_ms"]
        reference = f"snapshot's wire {fmt(snapshot, 'ms')}"
        ratio = f"{extra / snapshot:.4f} of the snapshot's wire"
        if imported and not imported.get("error_occurred"):
            reference += f"; import {fmt(ms(imported), 'ms')}"
            ratio += f"; {extra / ms(imported):.4f} of an import"
        paced = pace == "wire"
        row(f"{number} the same, the old song kept first: {fmt(tk, 'ms')}; the snapshot adds",
            fmt(extra, "ms"), reference, ratio, "≤ 1.02 of the snapshot's wire" if paced else "–",
            extra / snapshot <= 1.02 if paced else None)
        if "snapshot_ms" in kept:
            alone = kept["snapshot_ms"]
            reference = f"snapshot's wire {fmt(snapshot, 'ms')}"
            ratio = f"{alone / snapshot:.4f} of the snapshot's wire"
            if imported and not imported.get("error_occurred"):
                reference += f"; import {fmt(ms(imported), 'ms')}"
                ratio += f"; {alone / ms(imported):.4f} of an import"
            row(f"{number} the snapshot alone (read, file, row), up to the send", fmt(alone, "ms"),
                reference, ratio, "≤ 1.02 of the snapshot's wire" if paced else "–",
                alone / snapshot <= 1.02 if paced else None)

    period = None
    b = find(jack, "BM_OpenClosePair/jack")
    if b and b.get("error_occurred"):
        failed("5 JACK: opening and closing the pair of ports", b)
    elif b:
        period = b["period_ms"]
        med = b["pair_ms_med"]
        row("5 JACK: opening and closing the pair of ports",
            f"{fmt(med, 'ms')} median (p90 {fmt(b['pair_ms_p90'], 'ms')}); "
            f"{b['clients_per_round']:.0f} JACK clients made per opening",
            f"period {fmt(period, 'ms')}", f"{fmt(med / period)} periods", "≤ 2 periods",
            med <= 2 * period)
    for name, figure in [
        ("BM_FreeMemory/jack", "5 JACK: one request with opening and closing the ports"),
        ("BM_List/jack", "5 JACK: list (54 exchanges)"),
        ("BM_SendSong21504/jack", "5 JACK: send 21504 bytes (171 exchanges)"),
        ("BM_ImportSong21504/jack", "5 JACK: import 21504 bytes (169 exchanges)"),
    ]:
        b = find(jack, name)
        if not b:
            continue
        if b.get("error_occurred"):
            failed(figure, b)
            continue
        t = ms(b)
        period = b["period_ms"]
        per = t / b["exchanges"]
        if name.startswith("BM_FreeMemory"):
            row(figure, fmt(t, "ms"), f"period {fmt(period, 'ms')}",
                f"{fmt(t / period)} periods", "–", None)
            continue
        measured = f"{fmt(t, 'ms')}; {fmt(per, 'ms')} per exchange"
        ratio = f"{fmt(per / period)} periods per exchange"
        if "block_ms_med" in b:
            measured += f"; one block {fmt(b['block_ms_med'], 'ms')} (p90 {fmt(b['block_ms_p90'], 'ms')})"
            ratio += f"; one block {fmt(b['block_ms_med'] / period)} periods"
        elif "net_ms_per_exch" in b:
            measured += f"; {fmt(b['net_ms_per_exch'], 'ms')} without opening"
            ratio += f"; {fmt(b['net_ms_per_exch'] / period)} without opening"
        if b.get("failed_attempts"):
            measured += f" ({int(b['failed_attempts'])} failed attempts retried)"
        row(figure, measured, f"period {fmt(period, 'ms')}", ratio, "–", None)
    kbxtool = os.path.join(folder, "jack-kbxtool.txt")
    if os.path.exists(kbxtool):
        medians = {}
        with open(kbxtool) as f:
            for line in f:
                if " median " not in line:
                    continue
                what, rest = line[len("kbxtool "):].split(" median ", 1)
                medians[what.strip()] = (float(rest.split()[0]), rest.strip())
        virtual = medians.get("list (--virtual, no latency)")
        wire = {"send": find(kbd, "BM_SendSong21504/"), "import": find(kbd, "BM_ImportSong21504/")}
        for what, (median, text) in medians.items():
            if not what.endswith("(jack)"):
                continue
            reference, ratio, target, met = "–", "–", "–", None
            if what.startswith("list") and virtual:
                reference = f"kbxtool --virtual list {fmt(virtual[0], 'ms')}"
                ratio = fmt(median / virtual[0]) + " x"
                if period:
                    # Two periods an exchange, 30 % for the rest, plus the list without JACK.
                    limit = 1.3 * 54 * 2 * period + virtual[0]
                    target = f"≤ {fmt(limit, 'ms')}"
                    ratio += f"; {fmt(median / limit)} of target"
                    met = median <= limit
            for op, b in wire.items():
                if what.startswith(op) and b and "wire_ms" in b:
                    reference = f"wire {fmt(b['wire_ms'], 'ms')}"
                    ratio = fmt(median / b["wire_ms"]) + " of wire"
            row(f"5 kbxtool {what}, whole process", text.replace(" ms of", " ms, median of"),
                reference, ratio, target, met)
        traced = medians.get("list --trace (--virtual, no latency)")
        if traced and virtual:
            row("8 kbxtool --virtual list --trace, whole process",
                traced[1].replace(" ms of", " ms, median of"),
                f"without --trace {fmt(virtual[0], 'ms')}", fmt(traced[0] / virtual[0]) + " x",
                "–", None)

    for files, target in [(10000, 300.0), (100000, 3000.0)]:
        read = find(pane, f"BM_ReadFolder/{files}/")
        for kind in ["fill", "fill+paint"]:
            b = find(pane, f"BM_ListLocalFiles/{kind}/{files}/")
            if not b:
                continue
            figure = f"6 local pane, {files:,} files ({kind})"
            if b.get("error_occurred"):
                failed(figure, b)
                continue
            t = ms(b)
            reference = f"target {fmt(target, 'ms')}"
            ratio = f"{fmt(t / target)} of target"
            if read:
                reference += f"; bare folder read {fmt(ms(read), 'ms')}"
                ratio += f"; {fmt(t / ms(read))} x read"
            row(figure, fmt(t, "ms"), reference, ratio, f"< {fmt(target, 'ms')}", t < target)

    minimal = find(start, "BM_StartToShown/minimal_qt")
    b = find(start, "BM_StartToShown/kbxman")
    if b and minimal and not b.get("error_occurred"):
        row("6 kbxman: process start to main window painted", fmt(ms(b), "ms"),
            f"minimal Qt window {fmt(ms(minimal), 'ms')}", fmt(ms(b) / ms(minimal)) + " x", "–",
            None)
    minimal = find(start, "BM_PeakMemory/minimal_qt")
    b = find(start, "BM_PeakMemory/kbxman_after_list")
    if b and minimal and not b.get("error_occurred"):
        row("7 kbxman: peak memory after a list", fmt(b["maxrss_MiB"], "MiB"),
            f"minimal Qt window {fmt(minimal['maxrss_MiB'], 'MiB')}",
            fmt(b["maxrss_MiB"] / minimal["maxrss_MiB"]) + " x", "–", None)
    version = find(start, "BM_KbxtoolMemory/version")
    b = find(start, "BM_KbxtoolMemory/virtual_list")
    if b and version and not b.get("error_occurred"):
        row("7 kbxtool --virtual list: peak memory", fmt(b["maxrss_MiB"], "MiB"),
            f"kbxtool --version {fmt(version['maxrss_MiB'], 'MiB')}",
            fmt(b["maxrss_MiB"] / version["maxrss_MiB"]) + " x", "–", None)

    b = find(monitor, "BM_WindowList/monitor_open_vs_closed")
    if b and b.get("error_occurred"):
        failed("8 kbxman: Get/Update List with the MIDI monitor open", b)
    elif b:
        row("8 kbxman: Get/Update List with the MIDI monitor open",
            f"{fmt(b['open_ms_med'], 'ms')} median (it keeps {b['monitor_lines']:,.0f} lines)",
            f"monitor closed {fmt(b['closed_ms_med'], 'ms')}", fmt(b["x_closed"]) + " x", "–",
            None)

    for name, figure in [
        ("BM_FullBackup", "9 full backup, song memory full, at 31250 baud"),
        ("BM_FullRestore", "9 full restore (every slot sent), at 31250 baud"),
    ]:
        b = find(wholekbd, name)
        if b and b.get("error_occurred"):
            failed(figure, b)
        elif b:
            t = ms(b)
            row(figure, fmt(t, "ms"), f"wire {fmt(b['wire_ms'], 'ms')}",
                fmt(t / b["wire_ms"]) + " of wire", "≤ 1.02 of wire", t <= 1.02 * b["wire_ms"])

    soak = os.path.join(folder, "soak.txt")
    if os.path.exists(soak):
        with open(soak) as f:
            lines = [line.strip() for line in f]
        summary = next((l for l in lines if l.startswith("soak: ") and " operations in " in l), None)
        if summary:
            # "soak: 1000 operations in 491 s, 0 failed"
            words = summary.split()
            done, seconds, failures = int(words[1]), words[4], int(words[6])
            load_line = next((l for l in lines if l.startswith("load average after")), "")
            row("10 JACK soak: kbxtool list/import/send, both cores kept busy",
                f"{done} operations in {seconds} s, {failures} failed",
                load_line or "–", "–", "0 failed in 1000", failures == 0 and done >= 1000)

    print("| figure | measured | reference | ratio | target | |")
    print("| --- | --- | --- | --- | --- | --- |")
    for r in rows:
        print("| " + " | ".join(r) + " |")


if __name__ == "__main__":
    main()
