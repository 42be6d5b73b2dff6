#!/usr/bin/python3
"""The benchmark's table and plots, from the figures scripts/bench.sh gathers.

    scripts/bench_report.py RESULTS.tsv             prints the table (Markdown)
    scripts/bench_report.py --plots DIR RESULTS.tsv draws staleness.png,
                                                    queries.png and ingest.png
    scripts/bench_report.py --update FILE RESULTS.tsv
        puts the table into FILE, in place of what stands between the lines
        "<!-- bench results begin -->" and "<!-- bench results end -->"

RESULTS.tsv holds lines "RESULT <figure> <client> <parameter> <value> <unit>"
from bench/session_bench and "INFO <key> <text>" lines about the run.
The clients are "library", "reference" (the quotes client as first designed)
and "floor" (a bare QuickFIX parse of the same payloads).
"""
import argparse
import collections
import os
import sys

RATES = (1000, 10000, 100000)
ENTRIES = (2, 4, 10)
QUERY = "fn={fn},message={message},threads={threads}"

# Today's figures, before queries were answered from decoded entries, and the
# targets the figures are held to: (figure, parameter) -> (text, test).
BEFORE_INGEST = 705000
BEFORE_STALENESS_P99_US = 65
BEFORE_QUERY_NS = 1e9 / 669000


def load(path):
    results = {}
    info = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "RESULT" and len(fields) == 6:
                _, figure, client, parameter, value, unit = fields
                results[(figure, client, parameter)] = (float(value), unit)
            elif fields[0] == "INFO" and len(fields) == 3:
                info[fields[1]] = fields[2]
    return results, info


def number(value, unit):
    if value is None:
        return "n/a"
    if unit in ("us", "ms", "ns", "% of a core") and value < 100:
        return f"{value:.3g}" if value >= 0.01 or value == 0 else f"{value:.1e}"
    return f"{value:,.0f}"


def ratio(library, reference):
    if library is None or reference is None or reference == 0 or library == 0:
        return "n/a"
    r = library / reference
    if r >= 1:
        return f"{r:,.3g}x" if r < 1000 else f"{r:,.0f}x"
    inverse = 1 / r
    return f"1/{inverse:,.3g}" if inverse < 1000 else f"1/{inverse:,.0f}"


def rows(results):
    """(label, figure, parameter, unit shown, target text, target test, note)"""
    def get(figure, client, parameter):
        found = results.get((figure, client, parameter))
        return found[0] if found else None

    out = []
    for n in ENTRIES:
        parameter = f"entries={n}"
        floor = get("ingest", "floor", parameter)
        library = get("ingest", "library", parameter)
        note = ""
        if floor and library:
            note = f"{100 * library / floor:.0f} % of a bare QuickFIX parse ({floor:,.0f}/s)"
        target = (f">= {BEFORE_INGEST:,} (today)", lambda v: v >= BEFORE_INGEST) if n == 2 else None
        out.append((f"ingest, {n} entries per message (lines/s)", "ingest", parameter, "lines/s", target, note))
    for rate in RATES:
        for p, name in (("p50", "p50"), ("p99", "p99"), ("p99.9", "p99.9")):
            target = None
            if rate == 10000 and p == "p99":
                target = (f"<= {BEFORE_STALENESS_P99_US} (today)", lambda v: v <= BEFORE_STALENESS_P99_US)
            out.append((f"staleness {name} at {rate:,} quotes/s (us)", f"staleness_{p}", f"rate={rate}", "us",
                        target, ""))
    for fn in ("GetLastQuotes", "GetLastNQuotes"):
        for message, text in (("unchanged", "unchanged message"), ("changing", "message changing 10,000/s")):
            for threads in (1, 2):
                parameter = QUERY.format(fn=fn, message=message, threads=threads)
                target = None
                note = ""
                if threads == 2:
                    one = get("query_rate", "library", QUERY.format(fn=fn, message=message, threads=1))
                    two = get("query_rate", "library", parameter)
                    if one and two:
                        note = f"{two / one:.2f} x 1 thread"
                    cpu_one = get("query_rate_per_cpu", "library", QUERY.format(fn=fn, message=message, threads=1))
                    cpu_two = get("query_rate_per_cpu", "library", parameter)
                    if cpu_one and cpu_two:
                        note += f"; per CPU-second {cpu_two / cpu_one:.2f} x 1 thread's"
                    if fn == "GetLastQuotes" and message == "unchanged" and one:
                        target = (">= 1.6 x 1 thread", lambda v, one=one: v >= 1.6 * one)
                elif fn == "GetLastQuotes" and message == "unchanged":
                    target = (">= 5,000,000", lambda v: v >= 5e6)
                label = f"{fn}, {text}, {threads} thread{'s' if threads > 1 else ''} (calls/s)"
                out.append((label, "query_rate", parameter, "calls/s", target, note))
    out.append(("GetLastQuotes for any symbol (\"\"), unchanged message, 1 thread (calls/s)", "query_rate",
                "fn=GetLastQuotes,message=unchanged,symbol=any,threads=1", "calls/s", None, ""))
    out.append(("GetLastQuotes of a message changed since the last query (ns)", "query_changed",
                "fn=GetLastQuotes", "ns",
                (f"<= {BEFORE_QUERY_NS:,.0f} (today)", lambda v: v <= BEFORE_QUERY_NS), ""))
    out.append(("Login, median (ms)", "login", "median", "ms", ("< 10", lambda v: v < 10), ""))
    out.append(("Logoff, median (ms)", "logoff", "median", "ms", ("< 10", lambda v: v < 10), ""))
    out.append(("idle session, quotes thread CPU (% of a core)", "idle_cpu", "quotes thread", "% of a core",
                ("< 1", lambda v: v < 1), ""))
    for symbols in (1000, 100000):
        for figure, heap, when in (("memory_stored", "heap_stored", "stored"),
                                   ("memory_queried", "heap_queried", "stored and queried once")):
            parameter = f"symbols={symbols}"
            library = get(heap, "library", parameter)
            reference = get(heap, "reference", parameter)
            note = ""
            if library is not None and reference is not None:
                note = f"heap in use: library {library:,.0f}, reference {reference:,.0f}"
            out.append((f"resident memory per symbol, {symbols:,} symbols {when} (bytes)", figure,
                        parameter, "bytes", None, note))
    return out


def table(results, info):
    lines = []
    for key, title in (("date", "date"), ("commit", "commit"), ("cpu", "machine"), ("system", "system"),
                       ("load_before", "load average before"), ("load_after", "load average after")):
        if key in info:
            lines.append(f"- {title}: {info[key]}")
    lines.append("")
    lines.append("| figure | library | reference design | library / design | target | notes |")
    lines.append("|---|---:|---:|---:|---|---|")
    for label, figure, parameter, unit, target, note in rows(results):
        library = results.get((figure, "library", parameter), (None,))[0]
        reference = results.get((figure, "reference", parameter), (None,))[0]
        if library is None and reference is None:
            continue
        verdict = ""
        if target and library is not None:
            verdict = f"{target[0]}: {'met' if target[1](library) else 'MISSED'}"
        lines.append(f"| {label} | {number(library, unit)} | {number(reference, unit)} | "
                     f"{ratio(library, reference)} | {verdict} | {note} |")
    return "\n".join(lines)


def plots(results, directory):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    os.makedirs(directory, exist_ok=True)
    styles = {"library": ("tab:blue", "-"), "reference": ("tab:red", "--"), "floor": ("tab:gray", ":")}
    names = {"library": "library", "reference": "reference design", "floor": "bare QuickFIX parse"}

    def series(figure, client, parameters):
        xs, ys = [], []
        for x, parameter in parameters:
            found = results.get((figure, client, parameter))
            if found:
                xs.append(x)
                ys.append(found[0])
        return xs, ys

    def save(fig, ax, name, xlabel, ylabel, title):
        ax.set_yscale("log")
        ax.set_xlabel(xlabel)
        ax.set_ylabel(ylabel)
        ax.set_title(title)
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=8)
        fig.tight_layout()
        fig.savefig(os.path.join(directory, name), dpi=100)
        plt.close(fig)

    # Staleness against the offered rate.
    fig, ax = plt.subplots(figsize=(7, 4.5))
    for client in ("library", "reference"):
        color, _ = styles[client]
        for p, marker, line in (("p50", "o", "-"), ("p99", "s", "--"), ("p99.9", "^", ":")):
            xs, ys = series(f"staleness_{p}", client, [(r, f"rate={r}") for r in RATES])
            if xs:
                ax.plot(xs, ys, color=color, linestyle=line, marker=marker, label=f"{names[client]} {p}")
    ax.set_xscale("log")
    ax.set_xticks(RATES, [f"{r:,}" for r in RATES])
    save(fig, ax, "staleness.png", "offered rate (quotes/s)", "staleness (µs, log scale)",
         "Server write to GetLastQuotes returning the quote")

    # Query rate against threads.
    fig, ax = plt.subplots(figsize=(7, 4.5))
    lines = (("library", "GetLastQuotes", "unchanged", "library, unchanged message (cached)", "o", "-"),
             ("library", "GetLastNQuotes", "unchanged", "library GetLastNQuotes, unchanged (cached)", "o", ":"),
             ("library", "GetLastQuotes", "changing", "library, message changing 10,000/s", "s", "--"),
             ("reference", "GetLastQuotes", "unchanged", "reference design, unchanged (parsed per call)", "^", "-"),
             ("reference", "GetLastQuotes", "changing", "reference design, changing (parsed per call)", "v", "--"))
    for client, fn, message, label, marker, line in lines:
        xs, ys = series("query_rate", client,
                        [(t, QUERY.format(fn=fn, message=message, threads=t)) for t in (1, 2)])
        if xs:
            ax.plot(xs, ys, color=styles[client][0], linestyle=line, marker=marker, label=label)
    ax.set_xticks((1, 2))
    ax.set_xlim(0.8, 2.2)
    save(fig, ax, "queries.png", "query threads", "calls/s (log scale)", "Query rate, 2-entry message")

    # Ingest against entries per message.
    fig, ax = plt.subplots(figsize=(7, 4.5))
    for client in ("floor", "library", "reference"):
        xs, ys = series("ingest", client, [(n, f"entries={n}") for n in ENTRIES])
        if xs:
            color, line = styles[client]
            ax.plot(xs, ys, color=color, linestyle=line, marker="o", label=names[client])
    ax.set_xticks(ENTRIES)
    save(fig, ax, "ingest.png", "entries per message", "quote lines/s (log scale)", "Ingest: server to store")


BEGIN = "<!-- bench results begin -->"
END = "<!-- bench results end -->"


def update(path, text):
    with open(path, encoding="utf-8") as f:
        document = f.read()
    begin = document.find(BEGIN)
    end = document.find(END)
    if begin < 0 or end < begin:
        sys.exit(f"{path}: no {BEGIN} ... {END} block")
    document = document[:begin + len(BEGIN)] + "\n" + text + "\n" + document[end:]
    with open(path, "w", encoding="utf-8") as f:
        f.write(document)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plots", metavar="DIR")
    parser.add_argument("--update", metavar="FILE")
    parser.add_argument("results")
    args = parser.parse_args()
    results, info = load(args.results)
    if args.plots:
        plots(results, args.plots)
    elif args.update:
        update(args.update, table(results, info))
    else:
        print(table(results, info))
    return 0


if __name__ == "__main__":
    sys.exit(main())
