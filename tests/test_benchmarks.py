"""The benchmark's own arithmetic and its measuring cases for jxframebuf, run in-process at tiny
sizes (about a second): the figures it prints are only as good as these. The peers' cases need
the benchmark's own requirements and run in `make bench-quick`."""

import sys
from pathlib import Path

import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "benchmarks"))

import cases
import drawing
import recording
import run
import sound
import startup

FRAME_NS = 1e9 / 60


def test_percentile_matches_numpys_linear_interpolation():
    values = np.random.default_rng(3).exponential(size=601).tolist()
    for q in (0, 50, 99, 100):
        assert run.percentile(values, q) == pytest.approx(np.percentile(values, q))
    assert run.percentile([5.0], 99) == 5.0
    with pytest.raises(ValueError):
        run.percentile([], 50)


def test_pacing_summary_measures_distance_from_a_sixtieth_of_a_second():
    # 98 perfect frames, one 2 ms late and one 1 ms early: the errors are distances, so the early
    # frame counts too, and the mean period stays 1/60 s plus the net 1 ms / 100.
    periods = [FRAME_NS] * 98 + [FRAME_NS + 2e6, FRAME_NS - 1e6]
    s = run.pacing_summary(periods, 0.004)
    assert s["cpu_percent"] == pytest.approx(0.4)
    assert s["frames"] == 100
    assert s["mean_ms"] == pytest.approx(FRAME_NS / 1e6 + 0.01)
    assert s["p50_ms"] == pytest.approx(0.0)
    assert s["p99_ms"] == pytest.approx(1.01)  # between the 1 ms and 2 ms errors


def test_paired_ratio_compares_within_rounds():
    # Ours is 10% faster in every round though the machine's load changed between rounds.
    assert run.paired_ratio([110, 55, 220], [100, 50, 200]) == pytest.approx(1.1)
    with pytest.raises(ValueError):
        run.paired_ratio([1, 2], [1])


def synthetic_results(ours_fps, pygame_fps, ours_p99, tick_p99, growth, ours_cpu=0.2):
    def program(fps):
        # Three rounds, the machine twice as busy in the second: the within-round ratios hold.
        return {"median": fps, "rounds": [fps, fps / 2, fps], "renderer": "software"}

    size = {
        "ours": program(ours_fps),
        "floor": program(ours_fps * 1.05),
        "pygame_fastest": "pygame-ce renderer",
    }
    for method in cases.PYGAME_METHODS:
        size[f"pygame-ce {method}"] = program(pygame_fps)
    pacing = {"mean_ms": 16.667, "p50_ms": 0.01, "cpu_percent": 0.4}
    return {
        "meta": {"machine": "test", "versions": "test", "plan": "test"},
        "throughput": {"dummy": {"320x200x3": size}},
        "fused": {"320x200x3": {"fused_bytes_per_s": 12e9, "memcpy_bytes_per_s": 36e9}},
        "calls": {
            "ns": {"ours": {"pset": 60, "pget": 50}, "pygame-ce": {"set_at": 200, "get_at": 40}},
            "unavailable": {"pyxel": "no window"},
        },
        "pacing": {
            "dummy": {
                "ours flip()": pacing | {"p99_ms": ours_p99, "cpu_percent": ours_cpu},
                "pygame-ce Clock.tick(60)": pacing | {"p99_ms": tick_p99},
                "pygame-ce Clock.tick_busy_loop(60)": pacing | {"p99_ms": 0.9},
            }
        },
        "interrupt": {"median_s": 0.004, "max_s": 0.006, "runs": 5},
        "memory": {
            "first": 1000,
            "total": 100000,
            "after_first": 50 << 20,
            "after_total": (50 << 20) + growth,
        },
        "input": {  # running() 5% dearer than the baseline in each round, flip() 20%
            "rounds": {
                "ours": {"running": [420, 840], "flip": [6000, 12000]},
                "baseline": {"running": [400, 800], "flip": [5000, 10000]},
            },
            "ns": {
                "ours": {"running": 630, "flip": 9000},
                "baseline": {"running": 600, "flip": 7500},
            },
            "baseline": "/elsewhere",
        },
    }


def row(table, start, where=lambda line: True):
    return next(
        line for line in table.splitlines() if line.lstrip().startswith(start) and where(line)
    )


def test_report_marks_each_target_pass_or_miss():
    table = run.report(
        synthetic_results(
            ours_fps=1000, pygame_fps=500, ours_p99=0.05, tick_p99=1.2, growth=1 << 19
        )
    )
    throughput = row(table, "320x200x3")
    assert "2.00x" in throughput and ">=1.5x pg PASS" in throughput
    assert ">=0.95x floor PASS" in throughput  # 1/1.05 is 0.952
    assert row(table, "320x200x3 ", lambda line: "GB/s" in line).endswith("MISS")  # a third
    assert row(table, "pset").endswith("PASS") and row(table, "pget").endswith("MISS")
    assert "not measured (no window)" in table
    assert "p99 <= 0.25 ms PASS; CPU <= 1.0% of a core PASS" in table
    assert "Ctrl-C in a loop paced at 1 fps: KeyboardInterrupt 4.0 ms" in table
    assert row(table, "Memory").endswith("PASS")
    assert "1.05x  <=1.1x PASS" in row(table, "running()") and row(table, "flip()").endswith("MISS")

    table = run.report(
        synthetic_results(
            ours_fps=700, pygame_fps=500, ours_p99=0.3, tick_p99=1.2, growth=2 << 20, ours_cpu=1.5
        )
    )
    assert "1.40x" in row(table, "320x200x3") and "pg MISS" in row(table, "320x200x3")
    assert "p99 <= 0.25 ms MISS; CPU <= 1.0% of a core MISS" in table
    assert "growth +2.00 MB" in row(table, "Memory") and row(table, "Memory").endswith("MISS")


def test_throughput_case_reports_rates_and_the_display_it_used():
    r = cases.throughput_ours(width=16, height=8, scale=2, seconds=0.02, samples=2)
    assert len(r["fps"]) == 2 and min(r["fps"]) > 0
    assert (r["driver"], r["renderer"]) == ("dummy", "window surface")


def test_pacing_case_returns_one_period_per_frame():
    periods = cases.pacing_ours(frames=4, width=8, height=8, scale=1)["periods_ns"]
    assert len(periods) == 4
    assert all(FRAME_NS * 0.9 < p < FRAME_NS * 3 for p in periods)


def test_input_case_times_both_calls():
    r = cases.input_cost_ours(calls=20, samples=2, width=8, height=8, scale=1)
    assert len(r["running"]) == len(r["flip"]) == 2 and min(r["running"] + r["flip"]) > 0
    assert r["driver"] == "dummy"


def test_memory_case_reads_resident_size_at_both_counts():
    resident = cases.memory_ours(first=5, total=10, width=8, height=8)["resident_bytes"]
    assert set(resident) == {"5", "10"}
    assert all(value > 1 << 20 for value in resident.values())


class FakeRunner:
    """Stands in for run.Runner: answers each measurement from `answer(name, arguments)` and
    remembers the order of the calls."""

    def __init__(self, answer):
        self.answer = answer
        self.calls = []

    def case(self, name, driver, sdl2_driver=None, **arguments):
        self.calls.append((name, arguments.get("method")))
        return self.answer(name, arguments)

    def floor_run(self, driver, *arguments):
        self.calls.append(("floor", None))
        return self.answer("floor", {})


def test_throughput_keeps_rounds_apart_and_picks_pygames_fastest_way():
    fps = {"throughput_ours": 300, "floor": 320, "renderer": 100, "scaled": 250, "software": 200,
           "direct": 150}  # fmt: skip
    seen = {}

    def answer(name, arguments):
        key = arguments.get("method") or name
        seen[key] = seen.get(key, 0) + 1
        # Every program runs slower in the second round, as if the machine got busy.
        slow = 2 if seen[key] == 2 else 1
        return {"fps": [fps[key] / slow, fps[key] / slow], "renderer": "software"}

    runner = FakeRunner(answer)
    plan = run.Plan(drivers=["dummy"], sizes=[(8, 8, 1)], rounds=2)
    entry = run.measure_throughput(runner, plan, "dummy")["8x8x1"]
    assert entry["pygame_fastest"] == "pygame-ce scaled"
    assert entry["ours"]["rounds"] == [300, 150]
    assert run.paired_ratio(entry["ours"]["rounds"], entry["floor"]["rounds"]) == 300 / 320
    # Each round starts with a different program.
    programs = 2 + len(cases.PYGAME_METHODS)
    assert runner.calls[0] != runner.calls[programs] and len(runner.calls) == 2 * programs


def test_calls_skip_pyxel_when_it_cannot_run_but_not_the_others():
    def answer(name, arguments):
        if name == "calls_pyxel":
            raise RuntimeError("pyxel failed\nPanicException: no OpenGL")
        return (
            {"pset": [50.0], "pget": [40.0]}
            if name == "calls_ours"
            else {"set_at": [150.0], "get_at": [160.0]}
        )

    plan = run.Plan(drivers=["dummy"], call_rounds=2)
    r = run.measure_calls(FakeRunner(answer), plan)
    assert r["ns"]["ours"] == {"pset": 50.0, "pget": 40.0}
    assert r["unavailable"] == {"pyxel": "PanicException: no OpenGL"}

    def broken(name, arguments):
        raise RuntimeError("jxframebuf failed")

    with pytest.raises(RuntimeError):
        run.measure_calls(FakeRunner(broken), plan)


def test_runner_refuses_a_result_from_another_video_driver(tmp_path):
    # pygame-ce's SDL2 falls back to another driver when SDL_VIDEODRIVER is not honoured; a
    # figure from the wrong driver must stop the run, not slip into the table.
    runner = run.Runner(tmp_path, floor=tmp_path / "none")
    try:
        env = runner.environment("dummy")
        assert env["SDL_VIDEO_DRIVER"] == env["SDL_VIDEODRIVER"] == "dummy"
        assert "DISPLAY" not in env
        assert runner.environment("dummy", "offscreen")["SDL_VIDEODRIVER"] == "offscreen"
        say = 'import json; print(json.dumps({"driver": "offscreen", "fps": [1.0]}))'
        with pytest.raises(RuntimeError, match="used the offscreen driver, not dummy"):
            runner.run([sys.executable, "-c", say], "dummy")
        assert runner.run([sys.executable, "-c", say], "offscreen")["fps"] == [1.0]
    finally:
        runner.close()


def test_drawing_rows_compare_with_the_faster_peer_within_rounds():
    # Two rounds, the second twice as slow for everyone: the speed-ups hold in each.
    def rounds(ns):
        return [ns, 2 * ns]

    per_call = {
        "ours": {"line": 100, "rect": 100, "circle": 100, "blit": 100, "text": 100,
                 "text_bdf": 100, "text_x2": 100},
        "pygame-ce": {"line": 400, "rect": 150, "circle": 90, "blit": 900, "text": 9000,
                      "text_bdf": 900, "text_x2": 900},
        "pyxel": {"line": 300, "rect": 160, "circle": 500, "blit": 120, "text": 149,
                  "text_bdf": 190, "text_x2": 210},
    }  # fmt: skip
    results = {
        "rounds": {p: {k: rounds(v) for k, v in ns.items()} for p, ns in per_call.items()},
        "unavailable": {},
    }
    table = {row["name"]: row for row in drawing.rows(results)}
    assert (table["line"]["peer"], table["line"]["speedup"]) == ("pyxel", 3.0)
    assert table["line"]["pass"]
    assert (table["rect"]["peer"], table["rect"]["speedup"]) == ("pygame-ce", 1.5)
    assert table["rect"]["pass"] and not table["circle"]["pass"]  # 1.5x is enough, 0.9x not
    assert table["blit"]["peer"] == "pyxel" and not table["blit"]["pass"]  # 1.2x
    assert table["text"]["speedup"] == pytest.approx(1.49) and not table["text"]["pass"]
    # The fonts' target is 2x.
    assert not table["text_bdf"]["pass"] and table["text_x2"]["pass"]
    report = "\n".join(drawing.report(results))
    assert row(report, "line").endswith(">=1.5x PASS") and "3.00x" in row(report, "line")
    assert row(report, "circle").endswith(">=1.5x MISS") and "0.90x" in row(report, "circle")

    # A peer that could not run is left out and named; with none, there is no verdict.
    del results["rounds"]["pyxel"]
    results["unavailable"] = {"pyxel": "no OpenGL"}
    table = {row["name"]: row for row in drawing.rows(results)}
    assert table["line"]["peer"] == "pygame-ce" and table["line"]["speedup"] == 4.0
    assert "pyxel: not measured (no OpenGL)" in "\n".join(drawing.report(results))
    del results["rounds"]["pygame-ce"]
    assert row("\n".join(drawing.report(results)), "text").endswith("no peer ran")


def test_drawing_rows_leave_out_a_peer_without_the_member_and_rate_the_sprites():
    results = {
        "rounds": {"ours": {"remap": [100, 100], "sprites": [1e6, 1e6]},
                   "pygame-ce": {"remap": [], "sprites": [4e6, 4e6]},
                   "pyxel": {"remap": [150, 150], "sprites": [1e7, 1e7]}},
        "unavailable": {},
    }  # fmt: skip
    table = {row["name"]: row for row in drawing.rows(results)}
    assert set(table) == {"remap", "sprites"}  # only what ours measured
    assert table["remap"]["peer"] == "pyxel" and not table["remap"]["pass"]  # 1.5x, target 2x
    assert table["sprites"]["peer"] == "pygame-ce" and table["sprites"]["pass"]
    report = "\n".join(drawing.report(results))
    assert row(report, "remap").split()[-6] == "-"  # no pygame-ce figure
    assert "ours 10.0 M, pygame-ce 2.5 M, pyxel 1.0 M" in report


def test_drawing_case_times_every_primitive_and_draws():
    counts = {"line": 20, "rect": 20, "circle": 20, "blit": 5, "text": 5, "text_bdf": 3,
              "text_x2": 3, "triangle": 5, "polygon": 5, "ellipse": 5, "flood": 2, "blit_rs": 5,
              "remap": 5, "tiles": 2, "sprites": 1}  # fmt: skip
    r = drawing.draw_ours(samples=2, counts=counts)
    assert set(r["ns"]) == set(drawing.COUNTS)
    assert all(len(v) == 2 for v in r["ns"].values())
    assert r["checksum"] > 0  # something was drawn
    shapes = drawing.work(counts)
    assert [len(shapes[k]) for k in counts] == list(counts.values())
    assert all(len(s) == drawing.TEXT_LENGTH for _, _, s, _ in shapes["text"])
    assert shapes["sprite"].shape == (16, 16) and (shapes["sprite"] == 0).any()


def test_recording_case_measures_each_mode_and_the_report_sets_them_side_by_side():
    runs = {
        mode: [recording.record_loop("sprites", mode, seconds=0.3, width=32, height=24, scale=1)]
        for mode in recording.MODES
    }
    assert all(r[0]["fps"] > 10 and r[0]["resident_mb"] > 1 for r in runs.values())
    assert runs["none"][0]["file_mb_per_minute"] == 0
    assert runs[".gif"][0]["file_mb_per_minute"] > 0 and runs[".png"][0]["file_mb_per_minute"] > 0
    table = "\n".join(recording.report({"rounds": {"sprites": runs}, "seconds": 0.3}))
    assert [line.split()[1] for line in table.splitlines() if "sprites " in line] == [
        "-", ".gif", ".png"
    ]  # fmt: skip


def test_sound_feed_case_keeps_the_stream_fed_and_the_report_takes_medians():
    r = sound.feed("ours", seconds=0.3)  # on the dummy audio driver
    assert r["starved_frames"] == 0 and 0 < r["cpu_percent"] < 100
    results = {
        "cpu": {"ours": [2.0, 9.0, 2.2], "pygame-ce": [2.5, 2.4, 2.6], "loop alone": [0.5] * 3},
        "starved": {"ours": 0, "pygame-ce": 3, "loop alone": 0},
        "latency": {"ours": [12.0, 11.0, 40.0], "pygame-ce": [16.0, 15.0, 17.0]},
        "seconds": 4.0,
    }
    lines = {line.split()[0]: line.split() for line in sound.report(results)}
    assert lines["ours"][1:5] == ["2.20", "3", "0", "12.0"]
    assert lines["pygame-ce"][1:5] == ["2.50", "3", "3", "16.0"]
    assert lines["loop"][-3:] == ["-", "-", "0"]


def test_startup_programs_run_and_the_report_ranks_them(monkeypatch):
    class Runner(startup.LocalRunner):  # the dummy driver: no Xvfb needed for the programs to run
        def run(self, command, driver, env=None):
            return super().run(command, "dummy", env)

    ours = {name: code for name, code in startup.PROGRAMS.items() if "jxframebuf" in name}
    monkeypatch.setattr(startup, "PROGRAMS", ours)
    results = startup.measure(Runner(""), 1, progress=lambda message: None)
    assert len(results["rounds"]) == 2 and all(runs[0] > 0 for runs in results["rounds"].values())
    rounds = {"jxframebuf": [200.0, 180.0, 190.0], "jxframebuf + buffer()": [350.0] * 3,
              "pyxel": [260.0] * 3, "pygame-ce": [150.0, 400.0, 170.0],
              "raylib (pyray)": [300.0] * 3}  # fmt: skip
    table = startup.report({"rounds": rounds})
    assert [line.split()[0] for line in table[2:7]] == [
        "pygame-ce", "jxframebuf", "pyxel", "raylib", "jxframebuf"
    ]  # fmt: skip
    assert "190.0" in table[3] and "1.12" in table[3] and table[7].endswith("MISS")
