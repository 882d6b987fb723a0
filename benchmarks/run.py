"""jxframebuf side by side with pygame-ce, pyxel and the C++ floor, in one run on one machine.

    .venv/bin/python benchmarks/run.py [--quick] [--drivers dummy,x11] [--out build/bench]
                                       [--baseline DIR]

(`make bench` sets everything up and runs this.) Installs benchmarks/requirements.txt into the
virtual environment, builds the floor program (benchmarks/floor.cpp) against the module's SDL3,
then measures each figure in fresh processes, interleaving the programs round by round so that a
busy moment on the machine falls on all of them alike. Prints a table with every target and PASS
or MISS, and writes results.json and benchmark.png to the output directory.

--baseline DIR names another build of the module (`pip install --target DIR .` of another commit):
the cost of a frame's input is then measured for both, side by side, against a 10 % target.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import platform
import signal
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
import drawing  # noqa: E402
import recording  # noqa: E402
import sound  # noqa: E402
import startup  # noqa: E402
from cases import PYGAME_METHODS  # noqa: E402  (beside this file)

PYTHON = sys.executable
SIZES = [(320, 200, 3), (640, 360, 3), (1920, 1080, 1)]
FRAME_NS = 1e9 / 60
# Targets: ours / pygame-ce's fastest way, per video driver; ours / the C++ floor; the fused pass
# against memcpy; pacing at 60 fps.
THROUGHPUT_TARGETS = {"dummy": 1.5, "x11": 1.05}
FLOOR_TARGET = 0.95
FUSED_TARGET = 0.5
PACING_P99_MS = 0.25
PACING_CPU_PERCENT = 1.0
INPUT_TARGET = 1.10  # what tracking input may cost running() and flip(), against the baseline
# Other threads beside a 60 fps loop: a busy one's progress beside flip() against beside a loop
# that sleeps in time.sleep, and how often a thread that sleeps 1 ms at a time wakes.
THREAD_BUSY_RATIO = 0.9
THREAD_WAKES_PER_S = 800
# The memory run's 320x200 picture is magnified twice: the scaled drawing path is exercised, and
# 100,000 flips take about half a minute.
MEMORY_SCALE = 2


@dataclass
class Plan:
    """How much of everything to measure. The full plan takes about seven minutes here."""

    drivers: list[str]
    sizes: list[tuple[int, int, int]] = field(default_factory=lambda: list(SIZES))
    rounds: int = 7  # interleaved runs of every throughput and fused-pass program
    seconds: float = 0.25  # one throughput sample
    samples: int = 2  # throughput samples per run
    fused_seconds: float = 0.15
    calls: int = 100_000  # pset/pget calls per sample
    call_samples: int = 5
    # Fresh processes of the per-call and drawing programs. A process's speed at these short calls
    # depends on where address-space randomisation put the code (the same build measured 300 or
    # 450 ns a line from one process to the next here; never with it off): the median of enough
    # processes stands for the build.
    call_rounds: int = 9
    pacing_frames: int = 600
    pacing_rounds: int = 2
    interrupts: int = 5  # Ctrl-C latency runs
    thread_rounds: int = 5  # runs of each other-thread case
    thread_seconds: float = 6.0
    memory_flips: tuple[int, int] = (1_000, 100_000)
    recording_rounds: int = 3  # interleaved runs of each scene recorded and not
    recording_seconds: float = 6.0
    input_calls: int = 20_000  # running() and flip() calls per input-cost sample
    input_rounds: int = 5
    sound_rounds: int = 5  # interleaved runs of each sound program
    sound_seconds: float = 4.0  # one run feeding the stream
    sound_bursts: int = 8  # latency bursts per run
    startup_rounds: int = 5  # interleaved start-ups of each program (on Xvfb)

    @classmethod
    def quick(cls, drivers: list[str]) -> Plan:
        return cls(
            drivers=drivers,
            sizes=[SIZES[0]],
            rounds=1,
            seconds=0.05,
            samples=1,
            fused_seconds=0.02,
            calls=2_000,
            call_samples=1,
            call_rounds=1,
            pacing_frames=30,
            pacing_rounds=1,
            interrupts=1,
            thread_rounds=1,
            thread_seconds=2.0,
            memory_flips=(100, 1_000),
            recording_rounds=1,
            recording_seconds=1.5,
            input_calls=500,
            input_rounds=1,
            sound_rounds=1,
            sound_seconds=0.5,
            sound_bursts=2,
            startup_rounds=1,
        )


# --- Statistics and targets (pure functions) ----------------------------------------------------


def median(values) -> float:
    return float(statistics.median(values))


def percentile(values, q: float) -> float:
    """The q-th percentile (0..100) by linear interpolation between the two nearest ranks."""
    ordered = sorted(values)
    if not ordered:
        raise ValueError("no values")
    position = (len(ordered) - 1) * q / 100
    low = int(position)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (position - low)


def paired_ratio(ours_rounds, theirs_rounds) -> float:
    """The median over rounds of ours / theirs within each round. Every round runs all programs
    back to back, so a ratio within one round is not thrown by the load on the machine changing
    between rounds, which moves single figures by a third here."""
    return median([o / t for o, t in zip(ours_rounds, theirs_rounds, strict=True)])


def pacing_summary(periods_ns, cpu_fraction: float = 0.0) -> dict:
    """Mean frame period and the 50th/99th percentiles of its distance from 1/60 s, in ms, and the
    share of one core the loop used meanwhile, in percent."""
    errors = [abs(p - FRAME_NS) for p in periods_ns]
    return {
        "mean_ms": statistics.fmean(periods_ns) / 1e6,
        "p50_ms": percentile(errors, 50) / 1e6,
        "p99_ms": percentile(errors, 99) / 1e6,
        "cpu_percent": 100 * cpu_fraction,
        "frames": len(periods_ns),
    }


def verdict(ok: bool) -> str:
    return "PASS" if ok else "MISS"


# --- Preparation --------------------------------------------------------------------------------


def ensure_requirements() -> None:
    """Installs benchmarks/requirements.txt into this environment when it changed since the last
    install (the same stamp scheme as scripts/setup.sh)."""
    requirements = HERE / "requirements.txt"
    stamp = Path(sys.prefix) / ".bench-requirements.sha256"
    digest = hashlib.sha256(requirements.read_bytes()).hexdigest()
    if stamp.exists() and stamp.read_text() == digest:
        return
    print("bench: installing benchmarks/requirements.txt into the virtual environment", flush=True)
    subprocess.run([PYTHON, "-m", "pip", "install", "-q", "-r", str(requirements)], check=True)
    stamp.write_text(digest)


def build_floor(build_dir: Path) -> Path:
    """Builds the floor program against the SDL3 that scripts/setup.sh gave the module."""
    prefix_file = Path(sys.prefix) / "sdl3-prefix"
    if not prefix_file.exists():
        sys.exit("bench: no .venv/sdl3-prefix; run scripts/setup.sh (or make setup) first")
    bin_dir = Path(sys.prefix) / "bin"
    env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}")
    configure = [
        "cmake",
        "-S",
        str(HERE),
        "-B",
        str(build_dir),
        "-G",
        "Ninja",
        "-DCMAKE_BUILD_TYPE=Release",
        f"-DCMAKE_PREFIX_PATH={prefix_file.read_text().strip()}",
    ]
    if not (build_dir / "build.ninja").exists():
        subprocess.run(configure, check=True, env=env, stdout=subprocess.DEVNULL)
    subprocess.run(
        ["cmake", "--build", str(build_dir), "--parallel", "2"],
        check=True,
        env=env,
        stdout=subprocess.DEVNULL,
    )
    return build_dir / "jxfb_floor"


# --- Running the measuring processes ------------------------------------------------------------


class Runner:
    def __init__(self, out: Path, floor: Path) -> None:
        self.floor = floor
        self.log = (out / "log.txt").open("w")  # every command and its output; see close()
        self.display = None  # DISPLAY of the private Xvfb, once started

    def close(self) -> None:
        self.log.close()

    def environment(
        self, driver: str, sdl2_driver: str | None = None, pythonpath: str | None = None
    ) -> dict:
        # SDL3 reads SDL_VIDEO_DRIVER, SDL2 (pygame-ce, pyxel) SDL_VIDEODRIVER: both are set, and
        # every result says which driver the program really used. (Left without SDL_VIDEODRIVER,
        # pygame-ce would quietly pick SDL2's offscreen driver and OpenGL.)
        env = dict(
            os.environ,
            SDL_VIDEO_DRIVER=driver,
            SDL_VIDEODRIVER=sdl2_driver or driver,
            SDL_AUDIODRIVER="dummy",
            PYGAME_HIDE_SUPPORT_PROMPT="1",
        )
        env.pop("DISPLAY", None)
        if driver == "x11":
            env["DISPLAY"] = self.display
        if pythonpath:
            env["PYTHONPATH"] = pythonpath
        return env

    def run(
        self,
        command: list[str],
        driver: str,
        sdl2_driver: str | None = None,
        pythonpath: str | None = None,
        env: dict | None = None,
    ) -> dict:
        """Runs a measuring program; `env` adds to (or overrides) its environment."""
        self.log.write(f"$ SDL_VIDEO_DRIVER={driver} {' '.join(command)}\n")
        self.log.flush()
        done = subprocess.run(
            command,
            env=dict(self.environment(driver, sdl2_driver, pythonpath), **(env or {})),
            check=False,
            capture_output=True,
            text=True,
            timeout=300,
        )
        self.log.write(done.stderr)
        self.log.write(done.stdout)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed ({done.returncode}):\n{done.stderr}")
        result = json.loads(done.stdout.strip().splitlines()[-1])
        if "driver" in result and result["driver"] != driver:
            raise RuntimeError(
                f"{' '.join(command)} used the {result['driver']} driver, not {driver}"
            )
        return result

    def case(
        self,
        name: str,
        driver: str,
        sdl2_driver: str | None = None,
        pythonpath: str | None = None,
        **arguments,
    ) -> dict:
        command = [PYTHON, str(HERE / "cases.py"), name, json.dumps(arguments)]
        return self.run(command, driver, sdl2_driver, pythonpath)

    def floor_run(self, driver: str, *arguments) -> dict:
        return self.run([str(self.floor), *map(str, arguments)], driver)


def progress(message: str) -> None:
    print(f"bench: {message}", file=sys.stderr, flush=True)


def measure_throughput(runner: Runner, plan: Plan, driver: str) -> dict:
    """Per size: every program's fps samples from `plan.rounds` interleaved runs."""
    results = {}
    for width, height, scale in plan.sizes:
        key = f"{width}x{height}x{scale}"
        progress(f"throughput {driver} {key}")
        programs = ["ours", "floor"] + [f"pygame-ce {m}" for m in PYGAME_METHODS]
        entry = {p: {"fps": [], "rounds": []} for p in programs}
        for round_number in range(plan.rounds):
            # A different program goes first each round.
            order = (
                programs[round_number % len(programs) :] + programs[: round_number % len(programs)]
            )
            for program in order:
                if program == "ours":
                    r = runner.case(
                        "throughput_ours",
                        driver,
                        width=width,
                        height=height,
                        scale=scale,
                        seconds=plan.seconds,
                        samples=plan.samples,
                    )
                elif program == "floor":
                    r = runner.floor_run(
                        driver, "flip", width, height, scale, plan.seconds, plan.samples
                    )
                else:
                    r = runner.case(
                        "throughput_pygame",
                        driver,
                        method=program.split()[1],
                        width=width,
                        height=height,
                        scale=scale,
                        seconds=plan.seconds,
                        samples=plan.samples,
                    )
                entry[program]["fps"] += r["fps"]
                entry[program]["rounds"].append(median(r["fps"]))
                entry[program]["renderer"] = r["renderer"]
        for program in programs:
            entry[program]["median"] = median(entry[program]["fps"])
        fastest = max((f"pygame-ce {m}" for m in PYGAME_METHODS), key=lambda p: entry[p]["median"])
        entry["pygame_fastest"] = fastest
        results[key] = entry
    return results


def measure_fused(runner: Runner, plan: Plan) -> dict:
    results = {}
    for width, height, scale in plan.sizes:
        key = f"{width}x{height}x{scale}"
        progress(f"fused pass {key}")
        fused, copy = [], []
        for _ in range(plan.rounds):
            r = runner.floor_run(
                "dummy", "fused", width, height, scale, plan.fused_seconds, plan.samples
            )
            fused += r["fused_bytes_per_s"]
            copy += r["memcpy_bytes_per_s"]
        results[key] = {
            "fused_bytes_per_s": median(fused),
            "memcpy_bytes_per_s": median(copy),
            "samples": len(fused),
        }
    return results


def measure_calls(runner: Runner, plan: Plan) -> dict:
    progress("pset/pget against set_at/get_at and pyxel")
    programs = {"ours": "calls_ours", "pygame-ce": "calls_pygame", "pyxel": "calls_pyxel"}
    samples: dict[str, dict[str, list]] = {}
    unavailable = {}
    for _ in range(plan.call_rounds):
        for program, case_name in programs.items():
            if program in unavailable:
                continue
            # pyxel cannot open its window without OpenGL, which SDL2's dummy driver lacks: it
            # runs on SDL2's offscreen driver (these calls never touch the display).
            sdl2_driver = "offscreen" if program == "pyxel" else None
            try:
                r = runner.case(
                    case_name, "dummy", sdl2_driver, calls=plan.calls, samples=plan.call_samples
                )
            except RuntimeError as error:
                if program != "pyxel":
                    raise
                unavailable[program] = str(error).splitlines()[-1]
                continue
            for name, values in r.items():
                samples.setdefault(program, {}).setdefault(name, []).extend(values)
    return {
        "ns": {p: {n: median(v) for n, v in calls.items()} for p, calls in samples.items()},
        "unavailable": unavailable,
    }


def measure_pacing(runner: Runner, plan: Plan, driver: str) -> dict:
    progress(f"pacing {driver} ({plan.pacing_frames} frames at 60 fps per run)")
    programs = {
        "ours flip()": lambda: runner.case("pacing_ours", driver, frames=plan.pacing_frames),
        "pygame-ce Clock.tick(60)": lambda: runner.case(
            "pacing_pygame", driver, frames=plan.pacing_frames, busy=False
        ),
        "pygame-ce Clock.tick_busy_loop(60)": lambda: runner.case(
            "pacing_pygame", driver, frames=plan.pacing_frames, busy=True
        ),
    }
    runs = {name: [] for name in programs}
    for _ in range(plan.pacing_rounds):
        for name, run in programs.items():
            r = run()
            runs[name].append(pacing_summary(r["periods_ns"], r["cpu_fraction"]))
    return {
        name: {k: median([s[k] for s in summaries]) for k in summaries[0]}
        | {"runs": len(summaries)}
        for name, summaries in runs.items()
    }


THREAD_KINDS = {"busy": "busy, counts a second", "sleeper": "1 ms sleeper, wakes a second"}
THREAD_PACERS = {"flip": "flip()", "sleep": "time.sleep"}


def measure_threads(runner: Runner, plan: Plan) -> dict:
    """Per kind of other thread and way of pacing the main loop: the other thread's count a
    second and the p99 of the loop's frame error, medians over runs; the ratio of the counts is
    taken within each run, whose loop takes turns at both ways of pacing."""
    progress(f"other threads beside a 60 fps loop, {plan.thread_rounds} runs each")
    results = {}
    for kind in THREAD_KINDS:
        runs = [
            runner.case("threads_ours", "dummy", kind=kind, seconds=plan.thread_seconds)
            for _ in range(plan.thread_rounds)
        ]
        results[kind] = {
            pacer: {
                "per_second": median([r[pacer]["per_second"] for r in runs]),
                "p99_ms": median([pacing_summary(r[pacer]["periods_ns"])["p99_ms"] for r in runs]),
            }
            for pacer in THREAD_PACERS
        }
        results[kind]["ratio"] = paired_ratio(
            [r["flip"]["per_second"] for r in runs], [r["sleep"]["per_second"] for r in runs]
        )
        results[kind]["runs"] = plan.thread_rounds
    return results


INTERRUPTED = """
import sys, time
from jxframebuf import Framebuffer
fb = Framebuffer(64, 48, fps=1)
fb.flip()
print("looping", flush=True)
try:
    while fb.running():
        fb.flip()
except KeyboardInterrupt:
    print(time.monotonic(), flush=True)
"""


def measure_interrupt(runner: Runner, plan: Plan) -> dict:
    """Seconds from a Ctrl-C (SIGINT) sent into a loop paced at 1 fps until its KeyboardInterrupt
    is caught, the signal landing a quarter of a second into a frame's one-second delay."""
    progress(f"Ctrl-C at fps=1, {plan.interrupts} runs")
    latencies = []
    for _ in range(plan.interrupts):
        child = subprocess.Popen(
            [PYTHON, "-c", INTERRUPTED],
            env=runner.environment("dummy"),
            stdout=subprocess.PIPE,
            text=True,
            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
        )
        try:
            if child.stdout.readline() != "looping\n":
                raise RuntimeError("the Ctrl-C program did not start its loop")
            time.sleep(0.25)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
            out, _ = child.communicate(timeout=10)
            latencies.append(float(out.split()[0]) - sent)
        finally:
            child.kill()
            child.wait()
    return {"median_s": median(latencies), "max_s": max(latencies), "runs": len(latencies)}


def measure_memory(runner: Runner, plan: Plan) -> dict:
    first, total = plan.memory_flips
    progress(f"memory over {total:,} flips")
    r = runner.case("memory_ours", "dummy", first=first, total=total, scale=MEMORY_SCALE)
    resident = r["resident_bytes"]
    return {
        "first": first,
        "total": total,
        "after_first": resident[str(first)],
        "after_total": resident[str(total)],
    }


def measure_input(runner: Runner, plan: Plan, baseline: Path | None) -> dict:
    """ns per running() and flip() with a frame's input queued, for this build and, side by side
    in alternating processes, the baseline build if there is one."""
    progress("input cost" + (f" against the baseline in {baseline}" if baseline else ""))
    builds = {"ours": None} | ({"baseline": str(baseline)} if baseline else {})
    rounds: dict[str, dict[str, list[float]]] = {b: {"running": [], "flip": []} for b in builds}
    for round_number in range(plan.input_rounds):
        order = list(builds) if round_number % 2 == 0 else list(reversed(builds))
        for build in order:
            r = runner.case(
                "input_cost_ours",
                "dummy",
                pythonpath=builds[build],
                calls=plan.input_calls,
                samples=plan.call_samples,
            )
            for call in ("running", "flip"):
                rounds[build][call].append(median(r[call]))
    return {
        "rounds": rounds,
        "ns": {b: {c: median(v) for c, v in calls.items()} for b, calls in rounds.items()},
        "baseline": str(baseline) if baseline else None,
    }


# --- Report -------------------------------------------------------------------------------------


def report(results: dict) -> str:
    lines = []
    add = lines.append
    meta = results["meta"]
    add(f"jxframebuf benchmark: {meta['machine']}")
    add(f"  {meta['versions']}")
    add(f"  Medians over {meta['plan']}.")
    add("  Throughput ratios are ours / theirs within each round, median over the rounds.")

    for driver, sizes in results["throughput"].items():
        add("")
        add(f"Throughput, {driver} driver: unpaced flips/s, whole picture rewritten every frame")
        add(
            f"  {'size':<14}{'ours':>8}{'floor':>8}{'pygame-ce':>11}  {'fastest pygame-ce way':<22}"
            f"{'ours/pg':>9}{'ours/floor':>11}  targets"
        )
        for key, entry in sizes.items():
            ours, floor = entry["ours"]["median"], entry["floor"]["median"]
            fastest = entry["pygame_fastest"]
            pg = entry[fastest]["median"]
            vs_pg = paired_ratio(entry["ours"]["rounds"], entry[fastest]["rounds"])
            vs_floor = paired_ratio(entry["ours"]["rounds"], entry["floor"]["rounds"])
            target = THROUGHPUT_TARGETS.get(driver, 1.0)
            add(
                f"  {key:<14}{ours:>8.0f}{floor:>8.0f}{pg:>11.0f}  {fastest.split()[1]:<22}"
                f"{vs_pg:>8.2f}x{vs_floor:>10.2f}x  "
                f">={target}x pg {verdict(vs_pg >= target)}, "
                f">={FLOOR_TARGET}x floor {verdict(vs_floor >= FLOOR_TARGET)}"
            )
        renderers = {
            p: e["renderer"] for p, e in next(iter(sizes.values())).items() if isinstance(e, dict)
        }
        add("  renderers: " + ", ".join(f"{p} {r}" for p, r in renderers.items()))
        others = []
        for key, entry in sizes.items():
            others.append(
                key
                + " "
                + " / ".join(f"{m} {entry['pygame-ce ' + m]['median']:.0f}" for m in PYGAME_METHODS)
            )
        add("  all pygame-ce ways: " + "; ".join(others))
    add("")
    add("pygame-ce ways of showing the 8-bit Surface magnified:")
    for method, how in PYGAME_METHODS.items():
        add(f"  {method:<9} {how}")

    add("")
    add(
        "Fused pass alone (C++): palette lookup and magnification into the window surface, "
        "against a memcpy writing the same bytes"
    )
    add(f"  {'size':<14}{'fused':>12}{'memcpy':>12}{'ratio':>8}  target")
    for key, e in results["fused"].items():
        ratio = e["fused_bytes_per_s"] / e["memcpy_bytes_per_s"]
        add(
            f"  {key:<14}{e['fused_bytes_per_s'] / 1e9:>7.1f} GB/s{e['memcpy_bytes_per_s'] / 1e9:>7.1f}"
            f" GB/s{ratio:>8.2f}  >={FUSED_TARGET} {verdict(ratio >= FUSED_TARGET)}"
        )

    calls = results["calls"]
    ns = calls["ns"]
    add("")
    add("Per-call cost in ns (loop overhead taken out), dummy driver (pyxel: SDL2 offscreen)")
    pyxel = ns.get("pyxel")
    add(f"  {'call':<6}{'ours':>8}{'pygame-ce':>20}{'pyxel':>10}{'ours/pg':>9}  target")
    for ours_name, pg_name in (("pset", "set_at"), ("pget", "get_at")):
        o, p = ns["ours"][ours_name], ns["pygame-ce"][pg_name]
        px = f"{pyxel[ours_name]:>10.0f}" if pyxel else f"{'-':>10}"
        add(
            f"  {ours_name:<6}{o:>8.0f}{p:>12.0f} {pg_name:<7}{px}{o / p:>8.2f}x  "
            f"<=1.0x {verdict(o <= p)}"
        )
    for program, why in calls["unavailable"].items():
        add(f"  {program}: not measured ({why})")

    if "drawing" in results:
        add("")
        lines += drawing.report(results["drawing"])

    if "recording" in results:
        add("")
        lines += recording.report(results["recording"])
    if "startup" in results:
        add("")
        lines += startup.report(results["startup"])
    if "input" in results:
        lines += input_report(results["input"])

    if "sound" in results:
        add("")
        lines += sound.report(results["sound"])

    for driver, programs in results["pacing"].items():
        add("")
        add(
            f"Pacing at 60 fps, {driver} driver, a 64x40 picture: frame period, "
            "|period - 16.667 ms| and CPU"
        )
        add(f"  {'program':<36}{'mean ms':>9}{'p50 ms':>9}{'p99 ms':>9}{'CPU %':>8}")
        for name, s in programs.items():
            add(
                f"  {name:<36}{s['mean_ms']:>9.3f}{s['p50_ms']:>9.3f}{s['p99_ms']:>9.3f}"
                f"{s['cpu_percent']:>8.2f}"
            )
        ours = programs["ours flip()"]
        add(
            f"  targets: p99 <= {PACING_P99_MS} ms {verdict(ours['p99_ms'] <= PACING_P99_MS)}; "
            f"CPU <= {PACING_CPU_PERCENT}% of a core "
            f"{verdict(ours['cpu_percent'] <= PACING_CPU_PERCENT)}"
        )

    if "threads" in results:
        t = results["threads"]
        add("")
        add(
            "Another thread beside a 60 fps loop on the main thread, dummy driver: the loop takes "
            "turns at pacing by flip() and by sleeping in time.sleep"
        )
        add(
            f"  {'other thread':<30}{'beside flip()':>15}{'beside sleep':>14}{'flip/sleep':>12}"
            f"{'loop p99 ms flip / sleep':>27}  target"
        )
        for kind, label in THREAD_KINDS.items():
            e = t[kind]
            flip, sleep = e["flip"], e["sleep"]
            if kind == "busy":
                target = f">={THREAD_BUSY_RATIO}x {verdict(e['ratio'] >= THREAD_BUSY_RATIO)}"
            else:
                wakes = flip["per_second"]
                target = f">={THREAD_WAKES_PER_S}/s {verdict(wakes >= THREAD_WAKES_PER_S)}"
            add(
                f"  {label:<30}{flip['per_second']:>15,.0f}{sleep['per_second']:>14,.0f}"
                f"{e['ratio']:>11.2f}x{flip['p99_ms']:>17.2f} / {sleep['p99_ms']:<7.2f}  {target}"
            )
        add(
            "  loop p99: |period - 16.667 ms| of the main loop. Retaking the interpreter lock from "
            "a busy thread waits up to sys.getswitchinterval() (5 ms), either way."
        )

    if "interrupt" in results:
        i = results["interrupt"]
        add("")
        add(
            f"Ctrl-C in a loop paced at 1 fps: KeyboardInterrupt {i['median_s'] * 1e3:.1f} ms "
            f"after the signal (median of {i['runs']}, longest {i['max_s'] * 1e3:.1f} ms)"
        )

    m = results["memory"]
    growth = m["after_total"] - m["after_first"]
    add("")
    add(
        f"Memory, 320x200 scale {MEMORY_SCALE}, dummy driver: resident {m['after_first'] / 2**20:.1f} MB after "
        f"{m['first']:,} flips, {m['after_total'] / 2**20:.1f} MB after {m['total']:,}; "
        f"growth {growth / 2**20:+.2f} MB  <=1 MB {verdict(growth <= 2**20)}"
    )
    return "\n".join(lines)


def input_report(results: dict) -> list[str]:
    ns, rounds = results["ns"], results["rounds"]
    lines = [
        "",
        "Input cost, dummy driver, a 64x40 picture x2, unpaced, ten events queued before each "
        "call (3 moves, a key down and up, a click, a wheel notch, 2 typed characters): ns per call",
    ]
    if "baseline" not in ns:
        lines.append(f"  {'call':<12}{'ours':>8}")
        lines += [f"  {c + '()':<12}{ns['ours'][c]:>8.0f}" for c in ("running", "flip")]
        return lines
    lines.append(f"  {'call':<12}{'ours':>8}{'baseline':>10}{'ours/baseline':>15}  target")
    for call in ("running", "flip"):
        ratio = paired_ratio(rounds["ours"][call], rounds["baseline"][call])
        lines.append(
            f"  {call + '()':<12}{ns['ours'][call]:>8.0f}{ns['baseline'][call]:>10.0f}"
            f"{ratio:>14.2f}x  <={INPUT_TARGET}x {verdict(ratio <= INPUT_TARGET)}"
        )
    lines.append(f"  baseline: {results['baseline']}")
    return lines


def plot(results: dict, path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    drivers = list(results["throughput"])
    fig, axes = plt.subplots(2, 2, figsize=(12, 8.5))
    programs = ["ours", "floor"] + [f"pygame-ce {m}" for m in PYGAME_METHODS]
    colours = ["tab:blue", "tab:gray", "tab:orange", "tab:red", "tab:brown", "tab:olive"]
    for ax, driver in zip(axes[0], drivers):
        sizes = results["throughput"][driver]
        width = 0.8 / len(programs)
        for i, program in enumerate(programs):
            heights = [sizes[k][program]["median"] for k in sizes]
            ax.bar(
                [x + i * width for x in range(len(sizes))],
                heights,
                width,
                label=program,
                color=colours[i],
            )
        ax.set_xticks([x + 0.4 - width / 2 for x in range(len(sizes))], list(sizes))
        ax.set_yscale("log")
        ax.set_ylabel("unpaced flips per second (log)")
        ax.set_title(f"Throughput, {driver} driver")
        ax.legend(fontsize=8)
    for ax in axes[0][len(drivers) :]:
        ax.axis("off")

    ax = axes[1][0]
    for driver in drivers:
        for name, s in results["pacing"][driver].items():
            ax.barh(
                f"{driver}: {name}",
                s["p99_ms"],
                color="tab:blue" if name.startswith("ours") else "tab:orange",
            )
    ax.axvline(PACING_P99_MS, color="k", linestyle="--", linewidth=1)
    ax.set_xlabel(f"p99 of |period - 16.667 ms| (ms); dashed: the {PACING_P99_MS} ms target")
    ax.set_title("Pacing at 60 fps")
    ax.tick_params(axis="y", labelsize=7)

    ax = axes[1][1]
    ns = results["calls"]["ns"]
    labels, values, colours = [], [], []
    for program, calls in ns.items():
        for name, value in calls.items():
            labels.append(f"{program} {name}")
            values.append(value)
            colours.append("tab:blue" if program == "ours" else "tab:orange")
    ax.barh(labels, values, color=colours)
    ax.set_xlabel("ns per call (loop overhead taken out)")
    ax.set_title("Per-pixel calls")
    fig.tight_layout()
    fig.savefig(path, dpi=80)
    plt.close(fig)


def versions(runner: Runner) -> str:
    probe = (
        "import importlib.metadata as m, pygame, jxframebuf, sys, ctypes;"
        "v = ctypes.CDLL(jxframebuf._jxframebuf.__file__).SDL_GetVersion();"
        "print(f'Python {sys.version.split()[0]}, jxframebuf with SDL "
        '{v // 1000000}.{v // 1000 % 1000}.{v % 1000}, pygame-ce {m.version("pygame-ce")} '
        'with SDL {".".join(map(str, pygame.get_sdl_version()))}, '
        'pyxel {m.version("pyxel")}\')'
    )
    done = subprocess.run(
        [PYTHON, "-c", probe],
        env=runner.environment("dummy"),
        capture_output=True,
        text=True,
        check=True,
    )
    return done.stdout.strip().splitlines()[-1]


def machine() -> str:
    model = platform.processor() or "unknown CPU"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}"


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a smoke run: one size, tiny samples")
    parser.add_argument("--drivers", default="dummy,x11", help="SDL video drivers (dummy,x11)")
    parser.add_argument("--out", type=Path, default=ROOT / "build" / "bench")
    parser.add_argument(
        "--baseline", type=Path, help="another build of the module, for the input cost"
    )
    args = parser.parse_args(argv)
    drivers = [d for d in args.drivers.split(",") if d]
    plan = Plan.quick(drivers) if args.quick else Plan(drivers)
    args.out.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()

    ensure_requirements()
    floor = build_floor(ROOT / "build" / "bench-floor")
    runner = Runner(args.out, floor)
    sys.path.insert(0, str(ROOT / "scripts"))
    import soundserver
    import xsession

    results = {
        "meta": {
            "machine": machine(),
            "versions": versions(runner),
            "plan": f"{plan.rounds} interleaved runs x {plan.samples} samples of "
            f"{plan.seconds} s (throughput), {plan.pacing_rounds} runs of "
            f"{plan.pacing_frames} frames (pacing)",
        },
        "throughput": {},
        "pacing": {},
    }
    xvfb = None
    try:
        for driver in drivers:
            if driver == "x11" and xvfb is None:
                xvfb = xsession.Xvfb()
                runner.display = xvfb.display
            results["throughput"][driver] = measure_throughput(runner, plan, driver)
        results["fused"] = measure_fused(runner, plan)
        results["calls"] = measure_calls(runner, plan)
        results["drawing"] = drawing.measure(runner, plan.call_rounds, plan.call_samples, progress)
        results["recording"] = recording.measure(
            runner, plan.recording_rounds, plan.recording_seconds, progress
        )
        for driver in drivers:
            results["pacing"][driver] = measure_pacing(runner, plan, driver)
        if runner.display is not None:  # the peers' start-ups are compared on Xvfb only
            results["startup"] = startup.measure(runner, plan.startup_rounds, progress)
        results["threads"] = measure_threads(runner, plan)
        results["interrupt"] = measure_interrupt(runner, plan)
        results["memory"] = measure_memory(runner, plan)
        results["input"] = measure_input(runner, plan, args.baseline)
        with soundserver.PulseAudio(sound.RATE) as server:
            results["sound"] = sound.measure(
                runner, server, plan.sound_rounds, plan.sound_seconds, plan.sound_bursts, progress
            )
    finally:
        if xvfb is not None:
            xvfb.stop()
        runner.close()

    table = report(results)
    print(table)
    (args.out / "results.json").write_text(json.dumps(results, indent=1))
    (args.out / "table.txt").write_text(table + "\n")
    plot(results, args.out / "benchmark.png")
    progress(
        f"done in {time.monotonic() - started:.0f} s; table, results.json and benchmark.png "
        f"in {args.out}"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
