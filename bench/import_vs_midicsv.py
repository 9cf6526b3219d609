#!/usr/bin/env python3
"""Import against midicsv, whole process against whole process, on files of 1, 4 and 16 MB.

The files are made here with csvmidi: 480 ticks per beat, 17 tracks (a tempo track, then 16
tracks of notes on sixteenths, some in pairs, with program changes and controllers), as other
programs write them. Each round runs both programs on the same file, the order alternating from
round to round; the figures are medians of CPU time (user + system), wall time and peak memory
of each whole process.

usage: import_vs_midicsv.py BENCH_IMPORT_FILE [ROUNDS]
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SIZES_MB = (1, 4, 16)


def make_csv(path, target_bytes):
    # About 8.2 bytes of MIDI per note (on and off, no running status): notes per track to the target.
    notes = target_bytes * 10 // (16 * 82)
    rng = random.Random(target_bytes)
    with open(path, "w") as out:
        out.write("0, 0, Header, 1, 17, 480\n1, 0, Start_track\n")
        for beat in range(0, notes // 4 + 64, 64):
            out.write(f"1, {beat * 480}, Tempo, {400000 + rng.randrange(200000)}\n")
        out.write(f"1, {(notes // 4 + 64) * 480}, End_track\n")
        for t in range(16):
            track, ch = t + 2, t
            lines = [f"{track}, 0, Start_track\n", f"{track}, 0, Program_c, {ch}, {rng.randrange(128)}\n"]
            step = 0
            while len(lines) < 2 * notes:
                step += 1 + (rng.random() < 0.3)
                at, note = step * 120, 36 + rng.randrange(60)
                if rng.random() < 0.05:
                    lines.append(f"{track}, {at}, Control_c, {ch}, 7, {rng.randrange(128)}\n")
                pair = rng.random() < 0.25
                lines.append(f"{track}, {at}, Note_on_c, {ch}, {note}, {64 + rng.randrange(63)}\n")
                if pair:
                    lines.append(f"{track}, {at}, Note_on_c, {ch}, {note + 4}, 80\n")
                lines.append(f"{track}, {at + 90}, Note_off_c, {ch}, {note}, 0\n")
                if pair:
                    lines.append(f"{track}, {at + 90}, Note_off_c, {ch}, {note + 4}, 0\n")
            lines.append(f"{track}, {step * 120 + 120}, End_track\n")
            out.writelines(lines)
        out.write("0, 0, End_of_file\n")


def run(argv):
    """One whole process: (cpu ms, wall ms, peak MiB, its standard output)."""
    start = time.perf_counter()
    with tempfile.TemporaryFile() as stdout:
        proc = subprocess.Popen(argv, stdout=stdout, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = (time.perf_counter() - start) * 1e3
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            sys.exit(f"{argv[0]} failed on {argv[-1]} (exit status {proc.returncode})")
        stdout.seek(0)
        text = stdout.read().decode()
    return (usage.ru_utime + usage.ru_stime) * 1e3, wall, usage.ru_maxrss / 1024, text


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    importer = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    midicsv, csvmidi = shutil.which("midicsv"), shutil.which("csvmidi")
    if not midicsv or not csvmidi:
        sys.exit("midicsv and csvmidi are needed (package midicsv)")
    print("load average at start: " + open("/proc/loadavg").read().strip())
    with tempfile.TemporaryDirectory() as tmp:
        for mb in SIZES_MB:
            csv, mid = os.path.join(tmp, f"{mb}.csv"), os.path.join(tmp, f"{mb}.mid")
            make_csv(csv, mb << 20)
            subprocess.run([csvmidi, csv, mid], check=True)
            size = os.path.getsize(mid)
            figures = {"kivra": [], "midicsv": []}
            line = ""
            for r in range(rounds):
                order = ["kivra", "midicsv"] if r % 2 == 0 else ["midicsv", "kivra"]
                for who in order:
                    cpu, wall, peak, out = run([importer, mid] if who == "kivra" else [midicsv, mid, os.devnull])
                    figures[who].append((cpu, wall, peak))
                    line = out.strip() if who == "kivra" else line
            med = {who: [statistics.median(v[i] for v in runs) for i in range(3)] for who, runs in figures.items()}
            k, m = med["kivra"], med["midicsv"]
            print(f"{size / 1e6:6.2f} MB ({line})")
            print(f"   kivra   cpu {k[0]:8.1f} ms  wall {k[1]:8.1f} ms  peak {k[2]:6.1f} MiB ({k[2] * 1048576 / size:.1f}x the file)")
            print(f"   midicsv cpu {m[0]:8.1f} ms  wall {m[1]:8.1f} ms  peak {m[2]:6.1f} MiB")
            print(f"   kivra is {m[0] / k[0]:.2f}x as fast by CPU, {m[1] / k[1]:.2f}x by wall time")
    print("load average at end: " + open("/proc/loadavg").read().strip())


if __name__ == "__main__":
    main()
