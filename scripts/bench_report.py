#!/usr/bin/env python3
"""Helpers of scripts/bench.

  bench_report.py processes OUT DECODE_DUMP [--quick]
      times `dmidecode --from-dump` against korvix_decode_dump on the tables
      in OUT/tables and writes OUT/processes.json
  bench_report.py render OUT
      prints docs/benchmarks.md from the results in OUT
"""

import glob
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import time

GENERATED = [100, 1000, 10000, 65535]
SERVER = "dell-poweredge-r640-3.0"
DUMP_TABLES = ["surface-laptop3-amd-3.2", SERVER, "vmware-vm-2.7"] + [f"generated-{n}" for n in GENERATED]


# ---- timing whole processes ---------------------------------------------------


def time_command(argv, budget, min_runs, max_runs):
    """Median wall time of running argv (output discarded), in seconds."""
    times = []
    start = time.perf_counter()
    while len(times) < min_runs or (time.perf_counter() - start < budget and len(times) < max_runs):
        t0 = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - t0)
    return times


def handle_lines(argv):
    out = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout
    return sum(1 for line in out.splitlines() if line.startswith(b"Handle 0x"))


def processes(out, decode_dump, quick):
    results = []
    for name in DUMP_TABLES:
        dump = os.path.join(out, "tables", name + ".dump")
        dmi = ["dmidecode", "--from-dump", dump]
        korvix = [decode_dump, dump]
        budget = 0.3 if quick else 2.0
        min_runs = 3 if quick else 7
        # Alternate the two, a few runs at a time, so that both see the same load.
        dmi_times, korvix_times = [], []
        for _ in range(3):
            dmi_times += time_command(dmi, budget / 3, max(1, min_runs // 3), 200)
            korvix_times += time_command(korvix, budget / 3, max(1, min_runs // 3), 200)
        results.append({
            "table": name,
            "dump_bytes": os.path.getsize(dump),
            "dmidecode_s": statistics.median(dmi_times),
            "dmidecode_runs": len(dmi_times),
            "korvix_s": statistics.median(korvix_times),
            "korvix_runs": len(korvix_times),
            "dmidecode_handles": handle_lines(dmi),
            "korvix_handles": handle_lines(korvix),
        })
    with open(os.path.join(out, "processes.json"), "w") as f:
        json.dump(results, f, indent=1)


# ---- reading results ----------------------------------------------------------------

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


class Core:
    """Google Benchmark results: per benchmark name, CPU and wall times in ns of each repetition."""

    def __init__(self, files):
        self.cpu, self.wall, self.counters, self.context = {}, {}, {}, {}
        for path in files:
            if not os.path.exists(path):
                continue
            with open(path) as f:
                data = json.load(f)
            self.context = data.get("context", {})
            for b in data["benchmarks"]:
                if b.get("run_type") == "aggregate":
                    continue
                name = b["run_name"] if "run_name" in b else b["name"]
                unit = UNIT_NS[b.get("time_unit", "ns")]
                self.cpu.setdefault(name, []).append(b["cpu_time"] * unit)
                self.wall.setdefault(name, []).append(b["real_time"] * unit)
                self.counters[name] = {k: v for k, v in b.items() if k in ("structures", "bytes", "attributes")}

    def has(self, name):
        return name in self.cpu

    def ns(self, name):
        """Fastest repetition (or round), CPU time per iteration in ns: another process on the
        machine can only make a repetition slower, so the fastest is the best estimate."""
        return min(self.cpu[name])

    def noise(self, name):
        """How reproducible that fastest figure is: the second fastest against it."""
        v = sorted(self.cpu[name])
        return v[1] / v[0] - 1.0 if len(v) > 1 else 0.0

    def structures(self, name):
        return int(self.counters[name].get("structures", 0))

    def bytes(self, name):
        return int(self.counters[name].get("bytes", 0))


class Com:
    """Figures of korvix_bench_com: (benchmark, table) -> row. Several files (rounds): the
    round with the smallest median wins."""

    def __init__(self, *paths):
        self.rows, self.values = {}, {}
        self.runs = 0
        for path in paths:
            if not os.path.exists(path):
                continue
            self.runs += 1
            with open(path) as f:
                for line in f:
                    parts = line.rstrip("\r\n").split("\t")
                    if parts[0] == "figure" and len(parts) >= 9:
                        row = {"structures": int(parts[3]), "bytes": int(parts[4]), "ns": float(parts[5]),
                               "min": float(parts[6]), "max": float(parts[7]), "ops": int(parts[8])}
                        key = (parts[1], parts[2])
                        if key not in self.rows or row["ns"] < self.rows[key]["ns"]:
                            self.rows[key] = row
                    elif parts[0] == "value" and len(parts) >= 5:
                        self.values[(parts[1], parts[2])] = (parts[3], float(parts[4]))

    def has(self, bench, table):
        return (bench, table) in self.rows

    def ns(self, bench, table):
        return self.rows[(bench, table)]["ns"]

    def row(self, bench, table):
        return self.rows[(bench, table)]

    def tables(self, bench):
        return [t for (b, t) in self.rows if b == bench]


# ---- formatting --------------------------------------------------------------------------


def fmt_time(ns):
    if ns >= 1e9:
        return f"{ns / 1e9:.2f} s"
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} µs"
    return f"{ns:.1f} ns"


def fmt_ratio(r):
    if r < 0.1:
        return f"{r:.2g}×"
    if r >= 100:
        return f"{r:.0f}×"
    if r >= 10:
        return f"{r:.1f}×"
    return f"{r:.2f}×"


def fmt_int(n):
    return f"{n:,}"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    for r in rows:
        lines.append("| " + " | ".join(str(c) for c in r) + " |")
    return "\n".join(lines)


def command_output(argv):
    try:
        return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=30).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        return "unknown"


def first_line(text):
    return text.splitlines()[0] if text else "unknown"


def machine(out, core):
    cpu = "unknown"
    for line in command_output(["lscpu"]).splitlines():
        if line.startswith("Model name:"):
            cpu = line.split(":", 1)[1].strip()
    mem = "unknown"
    try:
        with open("/proc/meminfo") as f:
            kb = int(f.readline().split()[1])
            mem = f"{kb / 1024 / 1024:.0f} GiB"
    except OSError:
        pass
    wine = os.environ.get("WINE", "/usr/lib/wine/wine64")
    load = []
    for name in ("load-before.txt", "load-after.txt"):
        p = os.path.join(out, name)
        if os.path.exists(p):
            m = re.search(r"load average: (.*)$", open(p).read().strip())
            load.append(m.group(1) if m else "?")
    ctx = core.context
    benchmark_version = first_line(command_output(["dpkg-query", "-W", "-f=${Version}", "libbenchmark-dev"]))
    return [
        f"- CPU: {cpu}, {os.cpu_count()} logical cores available to the run"
        f" ({ctx.get('mhz_per_cpu', '?')} MHz as Google Benchmark reads it); memory {mem}",
        f"- System: {platform.system()} {platform.release()}, {first_line(command_output(['sh', '-c', '. /etc/os-release; echo $PRETTY_NAME']))}",
        f"- Native compiler: {first_line(command_output(['clang++', '--version']))}; Google Benchmark "
        f"{benchmark_version} (Debian's library is built as Debug, hence its start-up warning; only the"
        " timing loop is in it)",
        f"- Windows compiler: {first_line(command_output(['x86_64-w64-mingw32-g++-posix', '--version']))}; "
        f"{first_line(command_output([wine, '--version']))}",
        f"- Oracle: dmidecode {first_line(command_output(['dmidecode', '--version']))}",
        f"- Load average (1, 5, 15 min) before and after the run: {' / '.join(load) if load else 'unknown'}."
        " The machine is shared with other work, which can only make a measurement slower: native"
        " figures are CPU time (time spent waiting for a core is not counted) of the fastest"
        " repetition or round; the Wine figures are wall-clock medians of five runs, as the harness"
        " reports them.",
    ]


# ---- the report ---------------------------------------------------------------------------


def render(out):
    core = Core([os.path.join(out, "core.json")])
    rounds = {b: sorted(glob.glob(os.path.join(out, f"trace-{b}-*.json")))
              for b in ("core", "core_tracecall", "core_notrace")}
    trace = {b: Core(files) for b, files in rounds.items()}
    com = Com(*sorted(glob.glob(os.path.join(out, "com-*.tsv"))))
    trace6 = Com(os.path.join(out, "trace6.tsv"))
    procs = []
    if os.path.exists(os.path.join(out, "processes.json")):
        procs = json.load(open(os.path.join(out, "processes.json")))
    gen = [f"generated-{n}" for n in GENERATED]
    p = []
    w = p.append

    w("# Benchmarks\n")
    w(f"Written by `scripts/bench` on {time.strftime('%Y-%m-%d')} from the figures of that run; run it"
      " again to regenerate this file. Each figure stands beside a baseline measured in the same run,"
      " and the ratio is what to read: absolute times depend on the machine and on its load.\n")
    w("Tables: the 32 real tables of `tests/data/real`, and generated tables of 100, 1,000, 10,000 and"
      " 65,535 structures (the most that distinct 16-bit handles allow with an end-of-table marker). A"
      " generated table repeats one block of 100 real structures taken at even steps through the whole"
      " corpus (all types and string sets as they come, about 52 bytes a structure), with handles"
      " renumbered 0, 1, 2, …, so that every size has the same mix and per-structure figures compare"
      " like with like.\n")

    w("## Machine\n")
    p.extend(machine(out, core))
    w("")

    w("## Reproducing\n")
    w("```sh\nscripts/bench                 # everything below; writes this file\n"
      "scripts/bench --print         # the same, Markdown on stdout\n"
      "scripts/bench --against REV   # adds a before/after table against revision REV\n"
      "scripts/bench --quick         # short runs, to try the script (noisy figures)\n```\n")
    w("Single parts, after `cmake --preset bench && cmake --build --preset bench` and `scripts/build x64`:\n")
    w("```sh\nbuild/bench/bin/korvix_bench_core --benchmark_repetitions=5 --benchmark_min_time=0.2"
      "          # native core\n"
      "build/bench/bin/korvix_bench_core_notrace --benchmark_filter=WalkByIndex     # no trace statements\n"
      "build/bench/bin/korvix_bench_core_tracecall --benchmark_filter=WalkByIndex   # every statement a call\n"
      "build/bench/bin/korvix_bench_write_tables DIR && dmidecode --from-dump DIR/generated-10000.dump\n"
      "build/bench/bin/korvix_decode_dump DIR/generated-10000.dump\n"
      ". scripts/env.sh; $WINE build/x64/bin/korvix_bench_com.exe           # COM path under Wine\n"
      ". scripts/env.sh; $WINE build/x64/bin/korvix_bench_com.exe --trace   # tracing at level 6\n```\n")

    # ---- linearity
    w("## 1. Whole-table walks grow linearly (native core)\n")
    w("`WalkByIndex` reads a table as a client does with `EnumAllInstances(0, 1, 2, …)` until RetVal 3:"
      " per position a fresh structure copy, the decoder from the factory (with its OEM-marker test),"
      " the copy handed to it and the record decoded into a sink that reads every name and value."
      " `WalkByType` reads it as `GetAllInstancesOfType` for every type 0 to 255 does (one decoder per"
      " type, reloaded per structure). `Attach` walks the raw buffer into the two indexes."
      " Baseline: the same benchmark on the 100-structure table, same run. Times are CPU time, the"
      " fastest of 5 repetitions (see Machine); *noise* is how much slower the second fastest"
      " repetition was.\n")
    verdicts = []
    for bench in ("WalkByIndex", "WalkByType", "Attach"):
        base = f"{bench}/generated-100"
        if not core.has(base):
            continue
        rows = []
        b_ns = core.ns(base)
        b_n = core.structures(base)
        for t in gen:
            name = f"{bench}/{t}"
            if not core.has(name):
                continue
            ns, n = core.ns(name), core.structures(name)
            rows.append([fmt_int(n), fmt_int(core.bytes(name)), fmt_time(ns), fmt_time(ns / n),
                         fmt_ratio(n / b_n), fmt_ratio(ns / b_ns), fmt_ratio((ns / n) / (b_ns / b_n)),
                         f"{core.noise(name) * 100:.1f}%"])
        w(f"**{bench}**\n")
        w(table(["structures", "bytes", "time per walk", "per structure", "structures vs 100",
                 "time vs 100", "per structure vs 100", "noise"], rows) + "\n")
        for t, label in (("generated-10000", "100×"), ("generated-65535", "655×")):
            name = f"{bench}/{t}"
            if core.has(name):
                verdicts.append(f"- {bench}: {label} the structures (100 → {fmt_int(core.structures(name))})"
                                f" take {fmt_ratio(core.ns(name) / b_ns)} the time.")
    w("Goal: 100 times the structures at most about 120 times the time.\n")
    p.extend(verdicts)
    w("")

    # ---- per call
    w("## 2. One query (native core)\n")
    w("Per call, cycling through every structure (or type) of the table. `GetByIndex`, `GetFirstOfType`"
      " and `GetByHandle` are the table's lookups into one reused item; the `Query…` rows are the native"
      " part of `EnumAllInstances`, `FindInstanceByHandle` and `GetFirstInstanceOfType` (lookup, decoder,"
      " record into the reading sink), cycling through the structures that have a decoder."
      " Baseline: the same call on the 100-structure table.\n")
    calls = ["GetByIndex", "GetFirstOfType", "GetByHandle", "QueryByIndex", "QueryByHandle", "QueryFirstOfType"]
    rows = []
    for t in gen + [SERVER]:
        row = [t]
        for c in calls:
            name, base = f"{c}/{t}", f"{c}/generated-100"
            if core.has(name) and core.has(base):
                row.append(f"{fmt_time(core.ns(name))} ({fmt_ratio(core.ns(name) / core.ns(base))})")
            else:
                row.append("–")
        rows.append(row)
    w(table(["table"] + calls, rows) + "\n")
    w("Constant time by position and for the first of a type; the handle lookup is a binary search"
      " (its growth on the largest tables is mostly cache misses in a 0.8 MB index).\n")

    # ---- real tables
    w("## 3. The real tables (native core)\n")
    w("Baseline: per structure of `WalkByIndex` on the 100-structure generated table (same mix of"
      " real structures).\n")
    rows = []
    per = []
    base = core.ns("WalkByIndex/generated-100") / core.structures("WalkByIndex/generated-100") \
        if core.has("WalkByIndex/generated-100") else None
    real_names = sorted({n.split("/", 1)[1] for n in core.cpu if n.startswith("WalkByIndex/")
                         and not n.startswith("WalkByIndex/generated-")})
    for t in real_names:
        walk, attach = f"WalkByIndex/{t}", f"Attach/{t}"
        n = core.structures(walk)
        ps = core.ns(walk) / n
        per.append(ps)
        rows.append([t, fmt_int(n), fmt_int(core.bytes(walk)), fmt_time(core.ns(attach)) if core.has(attach) else "–",
                     fmt_time(core.ns(walk)), fmt_time(ps), fmt_ratio(ps / base) if base else "–"])
    w(table(["table", "structures", "bytes", "Attach", "WalkByIndex", "per structure", "vs generated"], rows) + "\n")
    if per:
        w(f"Per structure over the {len(per)} tables: median {fmt_time(statistics.median(per))},"
          f" from {fmt_time(min(per))} to {fmt_time(max(per))}.\n")

    # ---- trace cost
    w("## 4. Trace statements while tracing is off\n")
    w("Three builds of the same benchmarks, run in alternating rounds"
      f" ({len(rounds['core'])} rounds; per build the fastest round, CPU time):\n")
    w("- **none**: the decoders and the dispatcher compiled with every `Trace(...)` statement removed by"
      " the preprocessor (arguments included) — the baseline;\n"
      "- **off**: the code as shipped: `Trace()` is the inline gate of `common/trace/Trace.h`, one load of"
      " the threshold that the trace object keeps and one compare, and only a wanted record is a call;\n"
      "- **call**: the same sources compiled with `KORVIX_TRACE_OUT_OF_LINE`, so that every statement is a"
      " call into another translation unit that tests the threshold and returns (no link-time"
      " optimisation): what the statements would cost without the inline gate.\n")
    w("Ratios: *off / none* is what the trace statements cost when tracing is off; *call / none* what they"
      " would cost as out-of-line calls. *Noise* is how much slower the second fastest round of the"
      " baseline was than its fastest: a ratio within 1 + noise is no measurable cost.\n")
    rows = []
    t_core, t_call, t_none = trace["core"], trace["core_tracecall"], trace["core_notrace"]
    names = [n for n in t_none.cpu if n.split("/")[0] in
             ("WalkByIndex", "WalkByType", "QueryByIndex", "QueryByHandle", "QueryFirstOfType")
             and ("generated" in n or n.endswith(SERVER))]
    for n in sorted(names):
        if not (t_core.has(n) and t_call.has(n)):
            continue
        none, off, call = t_none.ns(n), t_core.ns(n), t_call.ns(n)
        within = "yes" if off / none <= 1 + t_none.noise(n) else "no"
        rows.append([n, fmt_time(none), fmt_time(off), fmt_time(call), fmt_ratio(off / none),
                     fmt_ratio(call / none), f"{t_none.noise(n) * 100:.1f}%", within])
    w(table(["benchmark", "none", "off", "call", "off / none", "call / none", "noise", "off within noise"], rows)
      + "\n")
    if rows:
        offs = sorted(float(r[4].rstrip("×")) for r in rows)
        calls = sorted(float(r[5].rstrip("×")) for r in rows)
        noises = sorted(float(r[6].rstrip("%")) for r in rows)
        inside = sum(1 for r in rows if r[7] == "yes")
        w(f"Over these benchmarks *off / none* has a median of {statistics.median(offs):.2f}× (from"
          f" {offs[0]:.2f}× to {offs[-1]:.2f}×) against a median noise of {statistics.median(noises):.1f}%;"
          f" {inside} of {len(rows)} are within their noise. *call / none* has a median of"
          f" {statistics.median(calls):.2f}×: that is what the inline gate saves.\n")
    real_walks = [n for n in t_none.cpu if n.startswith("WalkByIndex/") and "generated" not in n]
    if real_walks and all(t_core.has(n) and t_call.has(n) for n in real_walks):
        s_none = sum(t_none.ns(n) for n in real_walks)
        s_off = sum(t_core.ns(n) for n in real_walks)
        s_call = sum(t_call.ns(n) for n in real_walks)
        w(f"All {len(real_walks)} real tables walked once each (sum of the fastest rounds): none {fmt_time(s_none)},"
          f" off {fmt_time(s_off)} ({fmt_ratio(s_off / s_none)}), call {fmt_time(s_call)}"
          f" ({fmt_ratio(s_call / s_none)}).\n")
    if t_core.has("TraceStatement") and t_core.has("NoStatement"):
        one = t_core.ns("TraceStatement") - t_core.ns("NoStatement")
        line = (f"One statement on its own (a loop with one `Trace` against the same loop without it):"
                f" {fmt_time(one)} natively")
        if t_call.has("TraceStatement") and t_call.has("NoStatement"):
            line += (f" ({fmt_time(t_call.ns('TraceStatement') - t_call.ns('NoStatement'))} as an out-of-line"
                     " call)")
        if com.has("trace.OffStatementx1000", "-") and com.has("trace.NoStatementx1000", "-"):
            wone = (com.ns("trace.OffStatementx1000", "-") - com.ns("trace.NoStatementx1000", "-")) / 1000
            line += f", {fmt_time(wone)} in Korvix's Windows build under Wine (the real `CCVireoTrace`, tracing off)"
        w(line + ".\n")
        k = ("trace6.WalkEnumAllInstances.recordsPerWalk", SERVER)
        if k in trace6.values and com.has("trace.OffStatementx1000", "-") and com.has("com.EnumAllInstances", SERVER):
            per_call = trace6.values[k][1] / com.row("com.EnumAllInstances", SERVER)["structures"]
            wone = (com.ns("trace.OffStatementx1000", "-") - com.ns("trace.NoStatementx1000", "-")) / 1000
            call = com.ns("com.EnumAllInstances", SERVER)
            w(f"On the COM path a query runs more statements (the string conversions trace too): with tracing at"
              f" level 6 a walk of {SERVER} writes {per_call:.1f} records per `EnumAllInstances` call (section 8),"
              f" so with tracing off the statements of one call cost about {per_call:.0f} × {fmt_time(wone)} ="
              f" {fmt_time(per_call * wone)}, {per_call * wone / call * 100:.1f}% of the {fmt_time(call)} that"
              " the call takes (section 6). This figure is derived from those three measurements, not"
              " measured against a build without statements, which exists only natively.\n")

    # ---- dmidecode
    if procs:
        w("## 5. Korvix's native core against `dmidecode --from-dump`\n")
        w("The same table behind a `_SM3_` entry point (as `tests/data/real/README.md` describes) given to"
          " Debian's `dmidecode --from-dump` and to `korvix_decode_dump`, which reads the file like the"
          " driver-access component, attaches it, decodes every structure by position and prints each"
          " attribute as a line of text. Both are whole processes timed from start to exit with the"
          " output discarded (median of alternating runs); *Handle lines* shows both went through every"
          " structure (dmidecode also prints the end-of-table structure). The last two columns set the"
          " in-process `Attach` + `WalkByIndex` of section 1 and 3 against the dmidecode process."
          " Baseline: dmidecode on the same file.\n")
        rows = []
        for r in procs:
            t = r["table"]
            inproc = None
            if core.has(f"WalkByIndex/{t}") and core.has(f"Attach/{t}"):
                inproc = core.ns(f"WalkByIndex/{t}") + core.ns(f"Attach/{t}")
            rows.append([t, fmt_int(r["dump_bytes"]), f"{r['dmidecode_handles']:,} / {r['korvix_handles']:,}",
                         fmt_time(r["dmidecode_s"] * 1e9), fmt_time(r["korvix_s"] * 1e9),
                         fmt_ratio(r["korvix_s"] / r["dmidecode_s"]),
                         fmt_time(inproc) if inproc else "–",
                         fmt_ratio(inproc / (r["dmidecode_s"] * 1e9)) if inproc else "–"])
        w(table(["table", "dump bytes", "Handle lines (dmidecode / Korvix)", "dmidecode", "korvix_decode_dump",
                 "Korvix / dmidecode", "in-process Attach + walk", "in-process / dmidecode"], rows) + "\n")
        w("dmidecode decodes more types than Korvix (Korvix has decoders for 21 types; the others are"
          " counted but not decoded) and prints longer text, so the ratio compares the two tools at"
          " their jobs, not line for line.\n")

    # ---- COM
    if com.rows:
        w("## 6. The COM path under Wine (x64)\n")
        w("`korvix_bench_com.exe` registers the built `Korvix.dll` and `TorvelAccess.dll` for the run,"
          " creates `Korvix.SmBiosImpl` by ProgID, calls `ComponentInitialize` and lets the real"
          " driver-access component serve each table from a file (`KORVIX_SMBIOS_TABLE`). Timing: an"
          " operation repeated until it has taken at least 0.2 s, five times, median per operation"
          f" (wall clock, QueryPerformanceCounter); the whole benchmark runs {com.runs} times, each in a"
          " Wine process of its own, and each figure"
          " comes from the run with the smaller median. Every query's answer is freed before the next call,"
          " as a client has to. Tracing off.\n")
        w("**One query.** Per call, cycling through the structures (types, handles, positions) that have"
          " a decoder. Baseline: the native core doing the same query (section 2, `QueryByIndex` /"
          " `QueryByHandle` / `QueryFirstOfType`) on the same table — the ratio is what COM, VARIANTs,"
          " BSTRs, safe arrays and Wine add.\n")
        rows = []
        present = com.tables("com.EnumAllInstances")
        for t in [x for x in gen if x in present] + [x for x in present if x not in gen]:
            row = [t, fmt_int(com.row("com.EnumAllInstances", t)["structures"])]
            for cb, nb in (("com.GetFirstInstanceOfType", "QueryFirstOfType"),
                           ("com.FindInstanceByHandle", "QueryByHandle"),
                           ("com.EnumAllInstances", "QueryByIndex")):
                c = com.ns(cb, t)
                nat = f"{nb}/{t}"
                row.append(f"{fmt_time(c)}" + (f" ({fmt_ratio(c / core.ns(nat))} native)" if core.has(nat) else ""))
            rows.append(row)
        w(table(["table", "structures", "GetFirstInstanceOfType", "FindInstanceByHandle", "EnumAllInstances"],
                rows) + "\n")

        w("**Whole-table walks.** `EnumAllInstances(0, 1, …)` until RetVal 3, and `GetAllInstancesOfType`"
          " for every type 0 to 255. Baseline: the 100-structure table.\n")
        rows = []
        lin = []
        for bench in ("com.WalkEnumAllInstances", "com.WalkGetAllInstancesOfType"):
            if not com.has(bench, "generated-100"):
                continue
            b = com.row(bench, "generated-100")
            for t in gen + [x for x in com.tables(bench) if not x.startswith("generated-")]:
                if not com.has(bench, t):
                    continue
                r = com.row(bench, t)
                per_s = r["ns"] / r["structures"]
                rows.append([bench.split(".", 1)[1], t, fmt_int(r["structures"]), fmt_time(r["ns"]), fmt_time(per_s),
                             fmt_ratio(r["ns"] / b["ns"]) if t.startswith("generated-") else "–",
                             fmt_ratio(per_s / (b["ns"] / b["structures"]))])
                if t in ("generated-10000", "generated-65535"):
                    lin.append(f"- {bench.split('.', 1)[1]}: {fmt_ratio(r['structures'] / b['structures'])} the"
                               f" structures (100 → {fmt_int(r['structures'])}) take {fmt_ratio(r['ns'] / b['ns'])}"
                               " the time.")
        w(table(["walk", "table", "structures", "time per walk", "per structure", "time vs 100",
                 "per structure vs 100"], rows) + "\n")
        p.extend(lin)
        w("")
        w("Goal as in section 1: 100 times the structures at most about 120 times the time.\n")
        if com.has("heap.AllocFree", "1000 live") and com.has("heap.AllocFree", "100000 live"):
            few, many = com.ns("heap.AllocFree", "1000 live"), com.ns("heap.AllocFree", "100000 live")
            text = ("`GetAllInstancesOfType` answers with every record of the type at once: for type 17 of the"
              " 10,000-structure table that is 1,400 records, some 60,000 small blocks (BSTRs, string"
              " copies, arrays) alive together, where the `EnumAllInstances` walk never holds more than one"
              " record. Korvix's work per record is the same in both walks. What grows is the platform's"
              " cost per allocation: under this Wine, allocating and freeing a BSTR and a small block costs"
              f" {fmt_time(few)} with 1,000 such pairs alive and {fmt_time(many)} with 100,000"
              f" ({fmt_ratio(many / few)}; `heap.AllocFree`, same run) — the heap grows into fresh pages,"
              " and a fresh page is expensive on this machine (section 7).")
            bench = "com.WalkGetAllInstancesOfType"
            real = [t for t in com.tables(bench) if not t.startswith("generated-")]
            if com.has(bench, "generated-100") and real:
                b = com.row(bench, "generated-100")
                worst = max((com.row(bench, t)["ns"] / com.row(bench, t)["structures"])
                            / (b["ns"] / b["structures"]) for t in real)
                text += (f" On the real tables (at most a few hundred records of one type) this walk costs at"
                         f" most {fmt_ratio(worst)} per structure what it costs on the 100-structure table.")
            w(text + "\n")

        w("**Initialize.** From the call to its return: the driver-access component created through the"
          " dependency table, started and opened, the size and the data requests, the table file read,"
          " the byte-array answers built and converted (section 7), the table attached. Object creation"
          " and `ComponentInitialize` are not timed. Baseline: the 100-structure table.\n")
        rows = []
        if com.has("com.Initialize", "generated-100"):
            b = com.row("com.Initialize", "generated-100")
            for t in gen + [x for x in com.tables("com.Initialize") if not x.startswith("generated-")]:
                if not com.has("com.Initialize", t):
                    continue
                r = com.row("com.Initialize", t)
                rows.append([t, fmt_int(r["bytes"]), fmt_time(r["ns"]), fmt_ratio(r["bytes"] / b["bytes"]),
                             fmt_ratio(r["ns"] / b["ns"])])
            w(table(["table", "bytes", "Initialize", "bytes vs 100", "time vs 100"], rows) + "\n")
            big = [t for t in reversed(gen) if com.has("com.Initialize", t)]
            if big and big[0] != "generated-100":
                r = com.row("com.Initialize", big[0])
                per_mib = (r["ns"] - b["ns"]) / ((r["bytes"] - b["bytes"]) / 2**20)
                line = f"Cost per MiB of table (slope from 100 to {big[0][10:]} structures): {fmt_time(per_mib)}"
                if com.has("conv.ToVariant", "1MiB"):
                    line += (f", {fmt_ratio(per_mib / com.ns('conv.ToVariant', '1MiB'))} one buffer → VARIANT"
                             " conversion of a MiB (section 7)")
                w(line + ".\n")

    # ---- conversion
    if com.has("conv.ToVariant", "1MiB"):
        w("## 7. Byte-array conversion per MiB (under Wine)\n")
        w("`CCVariantConversion<unsigned char>` on 1 MiB: buffer → VARIANT (construction and `GetVariant`;"
          " freeing the array is not timed) and VARIANT → buffer (construction, which copies the VARIANT,"
          " `GetBufferPointer` and destruction). Baseline: only creating an array of 1 Mi VARIANTs"
          " (`SafeArrayCreateVector`, 16 MiB that the platform allocates and zeroes), same run.\n")
        base = com.ns("conv.NewArray", "1MiB") if com.has("conv.NewArray", "1MiB") else None
        rows = []
        for bench, label in (("conv.NewArray", "create the array (baseline)"),
                             ("conv.ToVariant", "buffer → VARIANT"), ("conv.ToBuffer", "VARIANT → buffer"),
                             ("conv.VariantClear", "free the array (VariantClear)")):
            if com.has(bench, "1MiB"):
                ns = com.ns(bench, "1MiB")
                rows.append([label, fmt_time(ns), f"{ns / 2**20:.1f} ns", f"{2**20 / (ns / 1e9) / 2**20:.1f} MiB/s",
                             fmt_ratio(ns / base) if base else "–"])
        w(table(["operation", "per MiB", "per byte", "throughput", "vs creating the array"], rows) + "\n")
        w("Each direction makes one array of 1 Mi VARIANTs, and that is most of its cost: buffer → VARIANT"
          " the array it hands out, VARIANT → buffer the copy of its input that the conversion keeps"
          " (then it reads it into the buffer and frees it). The loops that store and read the bytes are"
          " a small part. `Initialize` makes two such arrays per table (the accessor's answer and the"
          " zeroed request the exchange prescribes) and reads the answer once.\n")

    # ---- tracing on
    if trace6.values:
        w("## 8. Tracing at level 6 into a file (under Wine)\n")
        w("`korvix_bench_com.exe --trace`: the executable's trace object on at level 6 with the module"
          " column, so that `Korvix.dll` and `TorvelAccess.dll` join it when loaded; every record is"
          " written with its own file open, append and close, as the trace format requires."
          " Records counted in the file.\n")
        rows = []
        for (bench, t), (unit, v) in sorted(trace6.values.items()):
            rows.append([bench, t, f"{v:,.1f} {unit}"])
        w(table(["figure", "table", "value"], rows) + "\n")
        k = ("trace6.WalkEnumAllInstances.msPerWalk", SERVER)
        if k in trace6.values and com.has("com.WalkEnumAllInstances", SERVER):
            on = trace6.values[k][1] * 1e6
            off = com.ns("com.WalkEnumAllInstances", SERVER)
            w(f"A walk of {SERVER} through `EnumAllInstances` takes {fmt_ratio(on / off)} as long with"
              f" tracing at level 6 as with tracing off (baseline: section 6, tracing off).\n")

    # ---- before / after
    against = os.path.join(out, "against.txt")
    if os.path.exists(against):
        rev = open(against).read().strip()
        old = Core(sorted(glob.glob(os.path.join(out, "against-core-*.json"))))
        new = Core(sorted(glob.glob(os.path.join(out, "against-now-core-*.json"))))
        old_com = Com(*sorted(glob.glob(os.path.join(out, "against-com-*.tsv"))))
        new_com = Com(*sorted(glob.glob(os.path.join(out, "against-now-com-*.tsv"))))
        w(f"## 9. Before and after: this tree against {rev}\n")
        w(f"Revision {rev} built and run in the same `scripts/bench --against {rev}` run, the two trees in"
          " alternating rounds (native: fastest round, CPU time; COM: `--quick` runs, the round with the"
          " smallest median). Baseline: the figure at that revision.\n")
        rows = []
        # (The Query… benchmarks changed what they cycle through since, so they are left out.)
        for n in ("Attach/generated-10000", "GetFirstOfType/generated-10000", "GetByIndex/generated-10000",
                  "GetByHandle/generated-10000", "WalkByIndex/generated-100", "WalkByIndex/generated-10000", "WalkByIndex/generated-65535",
                  "WalkByType/generated-10000", "WalkByType/generated-65535", f"WalkByIndex/{SERVER}"):
            if old.has(n) and new.has(n):
                rows.append(["native " + n, fmt_time(old.ns(n)), fmt_time(new.ns(n)), fmt_ratio(new.ns(n) / old.ns(n))])
        for bench in ("com.Initialize", "com.GetFirstInstanceOfType", "com.FindInstanceByHandle",
                      "com.EnumAllInstances", "com.WalkEnumAllInstances", "com.WalkGetAllInstancesOfType"):
            for t in ("generated-10000", SERVER):
                if old_com.has(bench, t) and new_com.has(bench, t):
                    o, nn = old_com.ns(bench, t), new_com.ns(bench, t)
                    rows.append([f"{bench} {t}", fmt_time(o), fmt_time(nn), fmt_ratio(nn / o)])
        w(table(["figure", f"at {rev}", "now", "now / then"], rows) + "\n")

    # ---- what was done
    w("## What makes it fast\n")
    w("- `Attach` builds both indexes with counting sorts (by the type byte, and by the two bytes of the"
      " handle), which keep table order among equals as the stable sorts did, in linear time.\n"
      "- The type index keeps the position of the first structure of every type: the first of a type and"
      " the start of an enumeration cost one read; a position is one read; a handle is a binary search.\n"
      "- The OEM-extension test that every `Dispatch` makes reads the first type-188 structure in place"
      " instead of copying it out.\n"
      "- A structure instance reuses its copy when it is loaded again (the enumeration and"
      " `GetAllInstancesOfType` reload one decoder for every structure), counts its strings before it"
      " fills their list (one allocation), and `EnumAllInstances` / `FindInstanceByHandle` hand their"
      " copy to the decoder instead of copying it a second time.\n"
      "- Walks in index order ask for the next structure early, so that in tables of thousands of"
      " structures its cache miss overlaps with decoding the current one.\n"
      "- The attribute lists of a record start with room for 32 attributes instead of growing from one.\n"
      "- `Initialize` gives the byte-array conversion the accessor's answer by reference: the conversion"
      " keeps a copy of the VARIANT it is given, and a reference is copied as a reference, where an"
      " array by value was duplicated (16 bytes for every byte of the table).\n"
      "- Already so before: the buffer → VARIANT conversion fills the new array in place under one lock,"
      " and records are built in growing lists handed over whole, never copying the array per element.\n")
    w("Under this Wine the cost of the byte-array exchange is dominated by fresh memory: every large"
      " VARIANT array is new memory that the system has to map and zero (the `create the array`"
      " baseline of section 7). The exchange format (one VARIANT per byte, a request array of the table's"
      " size, an answer array) fixes how many such arrays `Initialize` needs.\n")
    print("\n".join(p).rstrip() + "\n")


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "processes":
        processes(sys.argv[2], sys.argv[3], "--quick" in sys.argv[4:])
    elif len(sys.argv) == 3 and sys.argv[1] == "render":
        render(sys.argv[2])
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)


if __name__ == "__main__":
    main()
