#!/usr/bin/env bash
# Plants the small faults listed in scripts/mutants.txt, one at a time, in a copy of the tree and
# says for each whether the test suite catches it. See --help.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
    cat <<EOF
Usage: scripts/mutants.sh [options]   (or: make mutants)

Plants each fault of the list, alone, in a copy of the tree, builds the copy incrementally and runs
the tests against it, stopping at the first failing test: first the test programs the fault's hint
names, then (when they all pass) the whole suite. Prints each fault as CAUGHT or MISSED, and the
score. A fault whose build fails counts as neither (NOBUILD); so does one whose text is no longer
in its file (STALE: the list needs updating). Not part of 'make test': it takes long.

Options:
  --list FILE    the list of faults (default: scripts/mutants.txt)
  --only REGEX   only the faults whose id matches REGEX (extended regular expression)
  --work DIR     where the copy and its build live (default: build-mutants/, or \$MUTANTS_DIR)
  --hint-only    run only the hinted test programs, never the whole suite (quick, less certain)
  --no-baseline  skip the run of the unchanged suite (only when it is known to pass)
  --check        only check that every fault's text occurs exactly once; build nothing
  -j N           parallel build and test jobs (default: nproc)
  -h, --help     this text

The copy is refreshed from the working tree at every start (changed files only), so a second run
rebuilds little. Build output and the log of every test run are kept under the work folder.
EOF
}

LIST="$ROOT/scripts/mutants.txt"
ONLY=""
WORK="${MUTANTS_DIR:-$ROOT/build-mutants}"
HINT_ONLY=0
BASELINE=1
CHECK=0
JOBS=$(nproc 2>/dev/null || echo 2)

while [ $# -gt 0 ]; do
    case "$1" in
    --list) LIST=${2:?--list needs a file}; shift 2 ;;
    --only) ONLY=${2:?--only needs a regular expression}; shift 2 ;;
    --work) WORK=${2:?--work needs a folder}; shift 2 ;;
    --hint-only) HINT_ONLY=1; shift ;;
    --no-baseline) BASELINE=0; shift ;;
    --check) CHECK=1; shift ;;
    -j) JOBS=${2:?-j needs a number}; shift 2 ;;
    -j*) JOBS=${1#-j}; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "mutants.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
    esac
done

case "$JOBS" in '' | *[!0-9]* | 0) echo "mutants.sh: -j needs a positive number" >&2; exit 2 ;; esac
[ -f "$LIST" ] || { echo "mutants.sh: no fault list at $LIST" >&2; exit 2; }
command -v python3 >/dev/null || { echo "mutants.sh: python3 is needed" >&2; exit 2; }

export MUTANTS_ROOT="$ROOT" MUTANTS_LIST="$LIST" MUTANTS_ONLY="$ONLY" MUTANTS_WORK="$WORK"
export MUTANTS_HINT_ONLY="$HINT_ONLY" MUTANTS_BASELINE="$BASELINE" MUTANTS_CHECK="$CHECK" MUTANTS_JOBS="$JOBS"
exec python3 -u - <<'PY'
import os, re, shutil, signal, subprocess, sys, time

root = os.environ["MUTANTS_ROOT"]
work = os.path.abspath(os.environ["MUTANTS_WORK"])
tree = os.path.join(work, "tree")
build = os.path.join(tree, "build")
logs = os.path.join(work, "logs")
jobs = os.environ["MUTANTS_JOBS"]
only = os.environ["MUTANTS_ONLY"]
hint_only = os.environ["MUTANTS_HINT_ONLY"] == "1"
check_only = os.environ["MUTANTS_CHECK"] == "1"
baseline = os.environ["MUTANTS_BASELINE"] == "1"

# Every test program gets far more time than it needs on a busy machine; a hang is a failure.
PROGRAM_TIMEOUT = 900
SUITE_TIMEOUT = 3600


def parse(path):
    faults, block, lineno = [], {}, 0
    def close(lineno):
        if not block:
            return
        missing = [k for k in ("id", "file", "find", "replace") if k not in block]
        if missing:
            sys.exit(f"mutants.sh: {path}: the fault ending at line {lineno} has no {', '.join(missing)}")
        faults.append(dict(block))
        block.clear()
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip():
                close(lineno)
                continue
            if line.lstrip().startswith("#"):
                continue
            key, sep, value = line.partition(":")
            key = key.strip()
            if not sep or key not in ("id", "file", "find", "replace", "hint"):
                sys.exit(f"mutants.sh: {path}:{lineno}: expected 'id:', 'file:', 'find:', 'replace:' or 'hint:'")
            if key in block:
                sys.exit(f"mutants.sh: {path}:{lineno}: a second '{key}:' in one fault (a blank line is missing?)")
            value = value[1:] if value.startswith(" ") else value
            block[key] = value.replace("\\n", "\n") if key in ("find", "replace") else value.strip()
        close(lineno + 1)
    ids = [f["id"] for f in faults]
    dupes = sorted({i for i in ids if ids.count(i) > 1})
    if dupes:
        sys.exit(f"mutants.sh: {path}: ids used twice: {', '.join(dupes)}")
    return faults


faults = parse(os.environ["MUTANTS_LIST"])
if only:
    faults = [f for f in faults if re.search(only, f["id"])]
    if not faults:
        sys.exit(f"mutants.sh: no fault id matches '{only}'")


def occurrences(base, fault):
    path = os.path.join(base, fault["file"])
    if not os.path.isfile(path):
        return -1
    with open(path, encoding="utf-8") as f:
        return f.read().count(fault["find"])


if check_only:
    bad = 0
    for fault in faults:
        n = occurrences(root, fault)
        if n != 1:
            bad += 1
            what = "file missing" if n < 0 else f"text found {n} times"
            print(f"STALE    {fault['id']}: {fault['file']}: {what}")
        elif fault["find"] == fault["replace"]:
            bad += 1
            print(f"STALE    {fault['id']}: the replacement is the text itself")
    print(f"{len(faults) - bad} of {len(faults)} faults apply")
    sys.exit(1 if bad else 0)


def run(cmd, log, timeout, cwd=None, env=None):
    """Runs cmd with its output appended to log; returns the exit status (124 on time-out)."""
    with open(log, "a", encoding="utf-8") as out:
        out.write(f"\n$ {' '.join(cmd)}\n")
        out.flush()
        proc = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, cwd=cwd, env=env,
                                start_new_session=True)
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            out.write(f"\n(stopped after {timeout} s)\n")
            return 124


os.makedirs(logs, exist_ok=True)
print(f"Refreshing the copy of the tree in {tree}", flush=True)
os.makedirs(tree, exist_ok=True)
if shutil.which("rsync"):
    # By content, and without the source's times: a file whose content changes in the copy gets a
    # new time, so the build cannot take an object compiled from a planted fault for a current one.
    subprocess.run(["rsync", "-rlpD", "--checksum", "--delete", "--exclude=/.git", "--exclude=/build",
                    "--exclude=/build-*", root + "/", tree + "/"], check=True)
else:
    # Without rsync: copy what differs in content (new time), leave the build folder alone.
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        if rel == ".":
            dirnames[:] = [d for d in dirnames if d != ".git" and d != "build" and not d.startswith("build-")]
        os.makedirs(os.path.join(tree, rel), exist_ok=True)
        for name in filenames:
            src, dst = os.path.join(dirpath, name), os.path.join(tree, rel, name)
            with open(src, "rb") as a:
                content = a.read()
            if os.path.exists(dst):
                with open(dst, "rb") as b:
                    if b.read() == content:
                        continue
            with open(dst, "wb") as b:
                b.write(content)
            shutil.copymode(src, dst)

env = dict(os.environ)
env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache" if shutil.which("ccache") else "")
env.setdefault("CMAKE_C_COMPILER_LAUNCHER", env["CMAKE_CXX_COMPILER_LAUNCHER"])
env["CCACHE_BASEDIR"] = tree
env["CCACHE_NOHASHDIR"] = "true"
env["QT_QPA_PLATFORM"] = "offscreen"
env.pop("MAKEFLAGS", None)

build_log = os.path.join(logs, "build.log")
if not os.path.exists(os.path.join(build, "build.ninja")):
    print("Configuring the copy (a light optimisation, no debug information: quicker to build and link)", flush=True)
    rc = run(["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Mutants",
              "-DCMAKE_CXX_FLAGS_MUTANTS=-O1", "-DCMAKE_C_FLAGS_MUTANTS=-O1", "-DQUARVO_BUILD_BENCH=OFF"],
             build_log, 600, env=env)
    if rc != 0:
        sys.exit(f"mutants.sh: configuring the copy failed; see {build_log}")


def build_targets(targets, log):
    cmd = ["cmake", "--build", build, "-j", jobs]
    for t in targets:
        cmd += ["--target", t]
    return run(cmd, log, 7200, env=env)


print("Building the copy (the first time takes as long as a full build)", flush=True)
if build_targets([], build_log) != 0:
    sys.exit(f"mutants.sh: the unchanged copy does not build; see {build_log}")


known_targets = set()


def refresh_targets():
    out = subprocess.run(["ninja", "-C", build, "-t", "targets", "all"], capture_output=True, text=True, env=env)
    known_targets.clear()
    for line in out.stdout.splitlines():
        known_targets.add(line.split(":", 1)[0].rsplit("/", 1)[-1])


refresh_targets()


def program_path(name):
    for dirpath, _, filenames in os.walk(os.path.join(build, "tests")):
        if name in filenames:
            return os.path.join(dirpath, name)
    return None


def hinted(fault):
    out = []
    for item in fault.get("hint", "").split():
        program, _, flt = item.partition(":")
        out.append((program, flt))
    return out


def last_failed():
    """The names of the tests the last ctest run failed."""
    path = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    try:
        with open(path, encoding="utf-8") as f:
            return [line.strip().split(":", 1)[-1] for line in f if line.strip()]
    except OSError:
        return []


def run_suite(log):
    cmd = ["ctest", "--test-dir", build, "-j", jobs, "--stop-on-failure", "--timeout", "300",
           "--output-on-failure"]
    return run(cmd, log, SUITE_TIMEOUT, env=env)


if baseline:
    print("Running the unchanged suite once: every fault is measured against a passing suite", flush=True)
    if run_suite(os.path.join(logs, "baseline.log")) != 0:
        sys.exit(f"mutants.sh: the unchanged suite fails; see {os.path.join(logs, 'baseline.log')}")

results = []
current = {}


def restore():
    if current:
        with open(current["path"], "w", encoding="utf-8") as f:
            f.write(current["text"])
        current.clear()


def interrupted(signum, frame):
    restore()
    sys.exit(130)


signal.signal(signal.SIGINT, interrupted)
signal.signal(signal.SIGTERM, interrupted)

start = time.monotonic()
try:
    for n, fault in enumerate(faults, 1):
        tag = f"[{n}/{len(faults)}] {fault['id']}"
        log = os.path.join(logs, f"{fault['id']}.log")
        if os.path.exists(log):
            os.remove(log)
        count = occurrences(tree, fault)
        if count != 1:
            what = "file missing" if count < 0 else f"text found {count} times"
            print(f"STALE    {tag}: {fault['file']}: {what}", flush=True)
            results.append((fault["id"], "STALE", what))
            continue
        path = os.path.join(tree, fault["file"])
        with open(path, encoding="utf-8") as f:
            text = f.read()
        current.update(path=path, text=text)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(fault["find"], fault["replace"], 1))
        t0 = time.monotonic()
        verdict, by = None, ""
        programs = [(p, flt) for p, flt in hinted(fault) if p in known_targets]
        for p, _ in hinted(fault):
            if p not in known_targets:
                print(f"         {tag}: no test program {p} (hint ignored)", flush=True)
        if programs:
            if build_targets([p for p, _ in programs], log) != 0:
                verdict = "NOBUILD"
            else:
                for program, flt in programs:
                    exe = program_path(program)
                    if not exe:
                        print(f"         {tag}: no test program {program} (hint ignored)", flush=True)
                        continue
                    cmd = [exe, "--gtest_fail_fast", "--gtest_brief=1"]
                    if flt:
                        cmd.append(f"--gtest_filter={flt}")
                    rc = run(cmd, log, PROGRAM_TIMEOUT, cwd=os.path.dirname(exe), env=env)
                    if rc != 0:
                        verdict, by = "CAUGHT", program + (f":{flt}" if flt else "") + (" (time-out)" if rc == 124 else "")
                        break
        if verdict is None and not hint_only:
            if build_targets([], log) != 0:
                verdict = "NOBUILD"
            else:
                # A failure of the whole suite counts only when the failing test fails again: a test
                # that fails now and then must not hide a fault. Up to three runs of the suite.
                flaky = []
                for attempt in range(3):
                    rc = run_suite(log)
                    if rc == 0:
                        verdict = "MISSED"
                        break
                    again = run(["ctest", "--test-dir", build, "--rerun-failed", "--timeout", "300",
                                 "--output-on-failure"], log, SUITE_TIMEOUT, env=env)
                    failed = last_failed()
                    if again != 0:
                        verdict, by = "CAUGHT", "the whole suite: " + ", ".join(failed)
                        break
                    flaky += failed
                if verdict is None:
                    verdict = "MISSED"
                if flaky:
                    print(f"         {tag}: failed once, then passed (not counted): {', '.join(flaky)}", flush=True)
        if verdict is None:
            verdict = "MISSED"
            by = "by the hinted programs"
        restore()
        seconds = time.monotonic() - t0
        note = f" by {by}" if verdict == "CAUGHT" else (f" ({by})" if by else "")
        if verdict == "NOBUILD":
            note = f" (see {log})"
        print(f"{verdict:<8} {tag}{note}  [{seconds:.0f} s]", flush=True)
        results.append((fault["id"], verdict, by))
finally:
    restore()

caught = sum(1 for r in results if r[1] == "CAUGHT")
missed = [r[0] for r in results if r[1] == "MISSED"]
neither = [r for r in results if r[1] in ("NOBUILD", "STALE")]
with open(os.path.join(work, "results.txt"), "w", encoding="utf-8") as f:
    for r in results:
        f.write("\t".join(r) + "\n")
total = caught + len(missed)
print()
print(f"Score: {caught} of {total} faults caught" + (f" ({100 * caught // total} %)" if total else "")
      + f" in {(time.monotonic() - start) / 60:.0f} min" + (" (hinted programs only)" if hint_only else ""))
if missed:
    print("Missed: " + ", ".join(missed))
for r in neither:
    print(f"Counted as neither: {r[0]} ({r[1]}{': ' + r[2] if r[2] else ''})")
print(f"Results: {os.path.join(work, 'results.txt')}; logs: {logs}")
sys.exit(1 if missed else 0)
PY
