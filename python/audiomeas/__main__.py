"""python3 -m audiomeas batch MANIFEST -o RESULTS [--scheduler ADDRESS | --workers N]
[--resume] [--channel K] [measurement options]: a manifest on a Dask
cluster, with the results lines and exit codes of ``audiomeas batch``."""

from __future__ import annotations

import argparse
import os
import sys

PROG = "python3 -m audiomeas"


def _say(text: str) -> None:
    if sys.stderr is not None:
        print(text, file=sys.stderr)


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        # One line and the usage exit code, as the audiomeas tool reports them.
        _say(f"audiomeas: {message} (see {PROG} --help)")
        from ._host import EXIT_USAGE

        sys.exit(EXIT_USAGE)


def _positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"{text!r} is not a positive whole number")
    return value


def _options(table: dict) -> list[dict]:
    """Every option of every measurement once, in table order."""
    seen: dict[str, dict] = {}
    for entry in table["measurements"].values():
        for o in entry["options"]:
            seen.setdefault(o["key"], o)
    return list(seen.values())


def _parser(table: dict) -> argparse.ArgumentParser:
    from . import _host

    parser = _Parser(prog=PROG, description="audiomeas measurements on a Dask cluster")
    sub = parser.add_subparsers(dest="command", required=True, parser_class=_Parser)
    b = sub.add_parser(
        "batch",
        help="one measurement per row of a CSV manifest, one JSON line per row as it finishes",
        description="One measurement per row of a CSV manifest (measurement,file1,file2"
        "[,file3], with option columns named in a header) on Dask workers; the results file "
        "of `audiomeas batch`, so either can --resume the other's file. Every worker must see "
        "the manifest's files at the same paths.",
        epilog=f"Exit codes: {_host.EXIT_OK} every row measured, every verdict the good one; "
        f"{_host.EXIT_FLAGGED} a row's verdict is doubtful or flagged; {_host.EXIT_USAGE} usage error (command "
        f"line, manifest, scheduler address); {_host.EXIT_BAD_INPUT} a row failed (or the "
        f"cluster could not be reached, or dropped rows); {_host.EXIT_OUTPUT} the results file "
        "or standard output could not be written.",
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
    every = table["channel"]["all"]
    b.add_argument("--channel", type=lambda t: t if t == every else _positive(t), default=0,
                   metavar=f"K|{every}", help=table["channel"]["help"])
    # The measurements' options, every row's unless the manifest says otherwise; the
    # host layer checks their limits.
    for o in _options(table):
        unit = f" ({o['unit']})" if o["unit"] else ""
        if o["type"] == "flag":
            # A flag given turns its option away from the default.
            b.add_argument(o["flag"], dest=o["key"], action="store_const", const=not o["default"],
                           help=o["help"])
        else:
            b.add_argument(o["flag"], dest=o["key"], type=int if o["type"] == "integer" else float,
                           metavar=o["unit"].upper() or "VALUE", help=o["help"] + unit)
    return parser


def main(argv: list[str] | None = None) -> int:
    from . import _host

    try:
        table = _host.table()
        args = _parser(table).parse_args(argv)
        options = {o["key"]: getattr(args, o["key"]) for o in _options(table)
                   if getattr(args, o["key"]) is not None}
        try:
            os.fstat(1)
        except OSError:
            if not args.output:
                raise _host.BatchFailure(_host.EXIT_OUTPUT, "standard output: cannot write; "
                                                            "the results would be lost") from None
        from . import batch

        return batch.run(args.manifest, args.output, scheduler=args.scheduler,
                         workers=args.workers, resume=args.resume, channel=args.channel,
                         options=options)
    except _host.BatchFailure as f:
        _say(f"audiomeas: {f}")
        return f.code
    except KeyboardInterrupt:
        _say("audiomeas: interrupted; the rows written are whole, continue with --resume")
        return 130
    except Exception as e:  # noqa: BLE001 - never a traceback and exit 1 ("a row flagged")
        _say(f"audiomeas: internal error: {type(e).__name__}: {e}")
        return _host.EXIT_BAD_INPUT


if __name__ == "__main__":
    sys.exit(main())
