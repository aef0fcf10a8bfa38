#!/usr/bin/python3
"""Makes the figures and the table of docs/attack-release.md, by hand:

    AUDIOMEAS_LIB_DIR=build/lib /usr/bin/python3 docs/attack_release_map.py

The default stimulus goes through the reference compressor (threshold -20
dBFS, ratio 4) for attack and release time constants from 1 ms to 10 s, and
the real measurement (the Python package over libaudiomeas) reports the two
settle times. Writes docs/attack_release_stimulus.png and
docs/attack_release_map.png, and the table into docs/attack-release.md.
"""

import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

DOCS = Path(__file__).resolve().parent
sys.path.insert(0, str(DOCS.parent / "python"))

import audiomeas  # noqa: E402
from audiomeas import generate  # noqa: E402

RATE = 48000
THRESHOLD_DB, RATIO = -20.0, 4.0
TIME_CONSTANTS = [0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0]
# The other time constant while one is swept: the table's column, and the
# figure's spread.
FIXED = 0.1
OTHERS = [0.001, 10.0]
# The table's place in the page.
TABLE_START = "<!-- table made by docs/attack_release_map.py -->"
TABLE_END = "<!-- end of table -->"
# The measurement's window length; where its windows start, and how many
# there are, come from its report.
WINDOW_S = 2.5


def measure(stimulus, attack, release):
    y = generate.reference_compressor(stimulus, RATE, threshold_db=THRESHOLD_DB, ratio=RATIO,
                                      attack_s=attack, release_s=release)
    # 16-bit scale, no latency: the measurement's pad makes it lag.
    r = audiomeas.attack_release(stimulus * 32768.0, y * 32768.0)
    assert not r.alignment_failed, r
    return r


def settle_times(stimulus, attack, release):
    r = measure(stimulus, attack, release)
    return tuple(np.nan if t is None else t for t in (r.attack_settle_time_s,
                                                      r.release_settle_time_s))


def span(report, segment):
    first = getattr(report, segment).first_window_s
    return first, first + (getattr(report, segment).windows - 1) * report.settle_step_s + WINDOW_S


def short_term_level(x, seconds=0.1):
    n = int(seconds * RATE)
    blocks = x[: len(x) // n * n].reshape(-1, n)
    return np.arange(len(blocks)) * seconds + seconds / 2, 10 * np.log10(np.mean(blocks**2, 1))


def stimulus_figure(stimulus):
    example = generate.reference_compressor(stimulus, RATE, threshold_db=THRESHOLD_DB,
                                            ratio=RATIO, attack_s=0.5, release_s=2.0)
    report = measure(stimulus, 0.5, 2.0)
    fig, ax = plt.subplots(figsize=(7.5, 3.0), dpi=80)
    ax.plot(*short_term_level(stimulus), lw=0.8, color="0.3", label="stimulus (default)")
    ax.plot(*short_term_level(example), lw=0.8, color="tab:red",
            label="through the reference compressor (attack 0.5 s, release 2 s)")
    for (a, b), name, colour in ((span(report, "attack"), "falling segment\n(attack settle time)", "tab:blue"),
                                 (span(report, "release"), "rising segment\n(release settle time)", "tab:green")):
        ax.axvspan(a, b, color=colour, alpha=0.12)
        ax.text((a + b) / 2, -43, name, ha="center", va="bottom", fontsize=8, color=colour)
    ax.set(xlim=(0, 115.5), ylim=(-45, 0), xlabel="time (s)", ylabel="level, 100 ms RMS (dBFS)")
    ax.legend(loc="upper right", fontsize=7, frameon=False)
    ax.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(DOCS / "attack_release_stimulus.png")


def main():
    stimulus = generate.attack_release()
    stimulus_figure(stimulus)

    # attack[other][tau]: attack settle time with attack tau and release other;
    # release[other][tau] likewise with release tau and attack other.
    attack = {o: [settle_times(stimulus, t, o)[0] for t in TIME_CONSTANTS] for o in [FIXED] + OTHERS}
    release = {o: [settle_times(stimulus, o, t)[1] for t in TIME_CONSTANTS] for o in [FIXED] + OTHERS}

    fig, ax = plt.subplots(figsize=(6.0, 3.6), dpi=80)
    for data, name, colour in ((attack, "attack", "tab:blue"), (release, "release", "tab:green")):
        lo = np.minimum.reduce([data[o] for o in OTHERS + [FIXED]])
        hi = np.maximum.reduce([data[o] for o in OTHERS + [FIXED]])
        ax.fill_between(TIME_CONSTANTS, lo, hi, color=colour, alpha=0.2, lw=0)
        ax.plot(TIME_CONSTANTS, data[FIXED], "o-", ms=3, color=colour,
                label=f"{name} settle time vs {name} time constant "
                      f"(other: {FIXED:g} s; shaded: {OTHERS[0]:g} to {OTHERS[-1]:g} s)")
    ax.set(xscale="log", xlabel="time constant of the reference compressor (s)",
           ylabel="reported settle time (s)", ylim=(0, 50))
    longest = measure(stimulus, 0.1, 0.1)
    for segment, colour in (("attack", "tab:blue"), ("release", "tab:green")):
        # The last pair examined ends the segment's range.
        ax.axhline((getattr(longest, segment).windows - 1) * longest.settle_step_s, color=colour,
                   ls=":", lw=0.8)
    ax.legend(loc="upper left", fontsize=7, frameon=False)
    ax.grid(alpha=0.3, which="both")
    fig.tight_layout()
    fig.savefig(DOCS / "attack_release_map.png")

    def cell(v):
        return f"{v:.1f}" if v > 0 else "none"  # NaN: not found

    lines = [
        "| time constant (s) | attack settle time (s) | release settle time (s) |",
        "|---:|---:|---:|",
    ]
    for i, t in enumerate(TIME_CONSTANTS):
        spread_a = {attack[o][i] for o in OTHERS + [FIXED]}
        spread_r = {release[o][i] for o in OTHERS + [FIXED]}
        a = cell(attack[FIXED][i]) + ("" if len(spread_a) == 1 else
                                       f" ({cell(min(spread_a))}–{cell(max(spread_a))})")
        r = cell(release[FIXED][i]) + ("" if len(spread_r) == 1 else
                                        f" ({cell(min(spread_r))}–{cell(max(spread_r))})")
        lines.append(f"| {t:g} | {a} | {r} |")
    page = DOCS / "attack-release.md"
    text = page.read_text()
    start = text.index(TABLE_START) + len(TABLE_START)
    end = text.index(TABLE_END)
    page.write_text(text[:start] + "\n" + "\n".join(lines) + "\n" + text[end:])
    print("\n".join(lines))


if __name__ == "__main__":
    main()
