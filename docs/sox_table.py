#!/usr/bin/python3
"""Makes the SoX comparison of docs/attack-release.md, by hand:

    /usr/bin/python3 docs/sox_table.py [--tool build/bin/audiomeas] [--write]

The default test signal goes through SoX's compand at each attack,decay
setting below, with the transfer function, gain and initial level fixed;
the built audiomeas tool measures every output. Prints the commands and the
table (Markdown); --write also puts them into docs/attack-release.md between
its markers. Needs sox (Debian package sox); takes about half a minute.
"""

import argparse
import json
import shlex
import subprocess
import sys
import tempfile
from pathlib import Path

DOCS = Path(__file__).resolve().parent
PAGE = DOCS / "attack-release.md"
START = "<!-- SoX table made by docs/sox_table.py -->"
END = "<!-- end of SoX table -->"

# compand's attack,decay pairs, s.
SETTINGS = ["0.001,0.01", "0.05,0.2", "0.3,1", "0.5,2", "2,8"]
# After attack,decay: a 6 dB soft knee over the points (-70, -70), (-20,
# -20), (0, -10), so 2:1 above -20 dB; no make-up gain; the detector starting
# at -30 dB, the test signal's base level; no delay. -D: no dither, so the
# output is the same on every run.
COMPAND = ["6:-70,-70,-20,-20,0,-10", "0", "-30"]


def sox_command(stimulus, output, setting):
    return ["sox", "-D", str(stimulus), str(output), "compand", setting, *COMPAND]


def run(command):
    done = subprocess.run(command, capture_output=True, text=True, timeout=600)
    if done.returncode not in (0, 1):  # 1: the measurement flagged its result
        sys.exit(f"sox_table: {shlex.join(command)} failed:\n{done.stderr}")
    return done.stdout


def cell(value, format):
    return "none" if value is None else format % value


def block(tool):
    rows = [
        "| compand attack, decay (s) | attack settle (s) | release settle (s) "
        "| gain change, step up (dB) | ratio across the step |",
        "|---|---:|---:|---:|---:|",
    ]
    with tempfile.TemporaryDirectory() as work:
        stimulus = Path(work) / "test_signal.wav"
        run([tool, "generate", "attack-release", str(stimulus)])
        for setting in SETTINGS:
            output = Path(work) / "compand_out.wav"
            run(sox_command(stimulus, output, setting))
            r = json.loads(run([tool, "attack-release", str(stimulus), str(output), "--json"]))
            if r["alignment_failed"]:
                sys.exit(f"sox_table: compand {setting}: {r['reason']}")
            up = r["gain_step"]["step_up"]
            rows.append(f"| {setting.replace(',', ', ')} | {cell(r['attack_settle_time_s'], '%.1f')} "
                        f"| {cell(r['release_settle_time_s'], '%.1f')} | {cell(up['gain_change_db'], '%.1f')} "
                        f"| {cell(up['compression_ratio'], '%.2f')} |")
    version = run(["sox", "--version"]).split()[-1]
    commands = [
        "```sh",
        "audiomeas generate attack-release test_signal.wav",
        shlex.join(sox_command("test_signal.wav", "compand_out.wav", "ATTACK,DECAY")),
        "audiomeas attack-release test_signal.wav compand_out.wav",
        "```",
    ]
    return "\n".join(commands + ["", f"With SoX {version}:", ""] + rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", default=str(DOCS.parent / "build" / "bin" / "audiomeas"),
                        help="the built audiomeas tool (default: build/bin/audiomeas)")
    parser.add_argument("--write", action="store_true", help="also write it into " + PAGE.name)
    args = parser.parse_args()
    text = block(args.tool)
    print(text)
    if args.write:
        page = PAGE.read_text()
        start = page.index(START) + len(START)
        end = page.index(END, start)
        PAGE.write_text(page[:start] + "\n" + text + "\n" + page[end:])


if __name__ == "__main__":
    main()
