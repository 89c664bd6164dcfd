#!/usr/bin/env python3
"""Times the cases compare.sh prepared and prints the table of medians, ratios and goals.

Each round starts every case once, in a fresh random order, so a slow moment of the machine falls
on all cases alike. Each run goes through run_measured, which takes its
wall time from spawn to reaped exit, its CPU time, and its peak resident set. Every DbRelay case is also started once with the loader's trace
on, to show which libraries it mapped.
"""
import argparse
import os
import random
import statistics
import subprocess
import sys
import time

UPDATE_PG = "UPDATE docs SET signed=1 WHERE id=7"
UPDATE_LITE = "UPDATE Docs SET Signed=1 WHERE Id=7"


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--runs", type=int, required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--psql", required=True)
    p.add_argument("--port", required=True)
    p.add_argument("--pg", required=True)
    p.add_argument("--lite", required=True)
    p.add_argument("--launcher", required=True)
    p.add_argument("--floor", required=True)
    return p.parse_args()


class Case:
    def __init__(self, name, argv, stdin_text=None, relay=False, expect_status=0):
        self.name, self.argv, self.stdin_text = name, argv, stdin_text
        self.relay, self.expect_status = relay, expect_status
        self.times, self.cpu, self.rss_kib, self.bad = [], [], [], []

    def run_once(self, launcher, work):
        argv = [launcher]
        if self.stdin_text is not None:
            path = os.path.join(work, "stdin.sql")
            with open(path, "w") as f:
                f.write(self.stdin_text + "\n")
            argv += ["--stdin", path]
        out = subprocess.run(argv + ["--"] + self.argv, capture_output=True, text=True, check=True)
        wall_us, cpu_us, rss_kib, status = (int(v) for v in out.stdout.split())
        self.times.append(wall_us / 1000)
        self.cpu.append(cpu_us / 1000)
        self.rss_kib.append(rss_kib)
        if status != self.expect_status:
            self.bad.append(status)

    def median(self):
        return statistics.median(self.times)

    def mapped_libraries(self, work):
        """The shared objects the loader mapped in one run (LD_DEBUG=libs)."""
        prefix = os.path.join(work, "ld-trace")
        env = dict(os.environ, LD_DEBUG="libs", LD_DEBUG_OUTPUT=prefix)
        subprocess.run(self.argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        libs = set()
        for name in os.listdir(work):
            if not name.startswith("ld-trace."):
                continue
            with open(os.path.join(work, name), errors="replace") as f:
                for line in f:
                    if "calling init:" in line:
                        libs.add(os.path.basename(line.split("calling init:")[1].strip()))
            os.remove(os.path.join(work, name))
        return libs


def main():
    a = parse_args()
    w = a.work
    psql = [a.psql, "-X", "-q", "-h", "127.0.0.1", "-p", a.port, "-U", "relay", "-d", "relaydb"]
    cases = {
        "usage": Case("DbRelay usage text", [f"{w}/usage/DbRelay"], relay=True, expect_status=255),
        "pg": Case("DbRelay, PostgreSQL", [f"{w}/pg/DbRelay", UPDATE_PG], relay=True),
        "pg_isql": Case("isql, PostgreSQL", ["isql", "-b", "-k", a.pg], stdin_text=UPDATE_PG),
        "pg_psql": Case("psql, PostgreSQL", psql + ["-c", UPDATE_PG]),
        "pg_floor": Case("floor, PostgreSQL", [a.floor, a.pg, UPDATE_PG]),
        "lite": Case("DbRelay, SQLite", [f"{w}/lite/DbRelay", UPDATE_LITE], relay=True),
        "lite_isql": Case("isql, SQLite", ["isql", "-b", "-k", a.lite], stdin_text=UPDATE_LITE),
        "lite_floor": Case("floor, SQLite", [a.floor, a.lite, UPDATE_LITE]),
        "failover": Case("DbRelay, fail-over", [f"{w}/failover/DbRelay", UPDATE_PG], relay=True),
        "fallback": Case("DbRelay, fall-back", [f"{w}/fallback/DbRelay", UPDATE_PG], relay=True),
    }
    order = list(cases.values())
    for case in order:  # warm the page cache and the server before timing
        case.run_once(a.launcher, w)
        case.__init__(case.name, case.argv, case.stdin_text, case.relay, case.expect_status)
    for _ in range(a.runs):
        random.shuffle(order)
        for case in order:
            case.run_once(a.launcher, w)

    print(f"{a.runs} interleaved runs per case, report pause 0, times in ms from start to exit (CPU: median\nuser+system time of the process)\n")
    print(f"{'case':<22} {'median':>8} {'min':>8} {'max':>8} {'CPU':>8} {'peak RSS':>10}  status")
    for case in cases.values():
        status = "ok" if not case.bad else f"{len(case.bad)} runs exited {sorted(set(case.bad))}"
        print(f"{case.name:<22} {case.median():8.2f} {min(case.times):8.2f} {max(case.times):8.2f}"
              f" {statistics.median(case.cpu):8.2f}"
              f" {max(case.rss_kib) / 1024:7.1f} MiB  {status}")

    def ratio(num, den):
        return cases[num].median() / cases[den].median()

    goals = [
        ("DbRelay / floor, PostgreSQL", ratio("pg", "pg_floor"), 1.03),
        ("DbRelay / floor, SQLite", ratio("lite", "lite_floor"), 1.10),
        ("DbRelay / isql, PostgreSQL", ratio("pg", "pg_isql"), 1.05),
        ("DbRelay / isql, SQLite", ratio("lite", "lite_isql"), 1.05),
        ("DbRelay / psql, PostgreSQL", ratio("pg", "pg_psql"), None),
        ("fail-over / healthy", ratio("failover", "pg"), 1.2),
        ("fall-back / healthy", ratio("fallback", "pg"), None),
        ("peak RSS DbRelay / isql, PostgreSQL",
         max(cases["pg"].rss_kib) / max(cases["pg_isql"].rss_kib), None),
        ("peak RSS DbRelay / isql, SQLite",
         max(cases["lite"].rss_kib) / max(cases["lite_isql"].rss_kib), None),
    ]
    print(f"\n{'ratio':<38} {'value':>6} {'goal':>7}  met")
    failed = False
    for name, value, goal in goals:
        if goal is None:
            print(f"{name:<38} {value:6.3f} {'-':>7}  (reported)")
            continue
        met = value <= goal
        failed |= not met
        print(f"{name:<38} {value:6.3f} {'<= ' + str(goal):>7}  {'yes' if met else 'NO'}")

    print()
    qt_seen = False
    for case in cases.values():
        if not case.relay:
            continue
        qt = sorted(lib for lib in case.mapped_libraries(w) if lib.startswith("libQt"))
        qt_seen |= bool(qt)
        print(f"{case.name:<22} Qt mapped: {', '.join(qt) if qt else 'none'}")
    print(f"\nno Qt library mapped on any DbRelay path: {'yes' if not qt_seen else 'NO'}")
    broken = any(c.bad for c in cases.values())
    if broken:
        print("some runs ended with an unexpected status: the timings above are not comparable")
    with open(os.path.join(w, "pending.sql"), errors="replace") as f:
        print(f"records appended by the fall-back case: {sum(1 for _ in f)}")
    # 2: the runs themselves went wrong; 1: they worked but a goal was missed.
    return 2 if broken or qt_seen else 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
