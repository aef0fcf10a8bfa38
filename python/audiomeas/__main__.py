"""python3 -m audiomeas batch MANIFEST -o RESULTS [--scheduler ADDRESS | --workers N]
[--resume] [--channel K]: a manifest on a Dask cluster, with the results
lines and exit codes of ``audiomeas batch``."""

from __future__ import annotations

import argparse
import sys

from . import batch

PROG = "python3 -m audiomeas"


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        # One line and the usage exit code, as the audiomeas tool reports them.
        sys.stderr.write(f"audiomeas: {message} (see {PROG} --help)\n")
        sys.exit(batch.EXIT_USAGE)


def _positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"{text!r} is not a positive whole number")
    return value


def _parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=PROG, description="audiomeas measurements on a Dask cluster")
    sub = parser.add_subparsers(dest="command", required=True, parser_class=_Parser)
    b = sub.add_parser(
        "batch",
        help="one measurement per row of a CSV manifest, one JSON line per row as it finishes",
        description="One measurement per row of a CSV manifest (measurement,file1,file2"
        "[,file3]) on Dask workers; the results lines of `audiomeas batch`, so either can "
        "--resume the other's file. Every worker must see the manifest's files at the same "
        "paths.",
        epilog=f"Exit codes: {batch.EXIT_OK} every row measured, no flag raised; "
        f"{batch.EXIT_FLAGGED} a row raised its flag; {batch.EXIT_USAGE} usage error (command "
        f"line, manifest); {batch.EXIT_BAD_INPUT} a row failed (or the cluster could not be "
        f"reached, or dropped rows); {batch.EXIT_OUTPUT} the results file could not be written.",
    )
    b.add_argument("manifest", metavar="MANIFEST", help="CSV manifest; relative paths from its folder")
    b.add_argument("-o", "--output", default="", metavar="RESULTS",
                   help="append JSON lines here (default: standard output)")
    where = b.add_mutually_exclusive_group()
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="a running dask-scheduler, e.g. tcp://host:8786")
    where.add_argument("--workers", type=_positive, metavar="N",
                       help="worker processes of a cluster on this machine (default: one per core)")
    b.add_argument("--resume", action="store_true", help="skip the rows the results file already holds")
    b.add_argument("--channel", type=_positive, default=0, metavar="K",
                   help="channel K (1-based) of multi-channel files")
    return parser


def main(argv: list[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    try:
        return batch.run(args.manifest, args.output, scheduler=args.scheduler,
                         workers=args.workers, resume=args.resume, channel=args.channel)
    except batch.Failure as f:
        print(f"audiomeas: {f}", file=sys.stderr)
        return f.code
    except KeyboardInterrupt:
        print("audiomeas: interrupted; the rows written are whole, continue with --resume",
              file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())
