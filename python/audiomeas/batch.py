"""Manifest runs on a Dask cluster, interchangeable with ``audiomeas batch``.

The manifest, the row numbering, the usage errors, the results lines and the
resume rules are those of the command-line runner, so either runner can
continue the other's results file. Rows are measured by Dask workers through
the host layer (``audiomeas._host.measure_files``), each worker reading its
own files; only the driving process writes the results file, one whole line
per write(2) on an O_APPEND descriptor, as rows finish.

Workers run one thread each: envelo's working arrays are static, so one
process measures one row at a time.
"""

from __future__ import annotations

import errno
import importlib.util
import json
import math
import os
import stat
import sys
import uuid
from dataclasses import dataclass

from . import _host
from ._host import EXIT_BAD_INPUT, EXIT_FLAGGED, EXIT_OK, EXIT_OUTPUT, EXIT_USAGE

# A row whose task raised is retried this many times (another worker may
# have the library, the memory or the mount the first one lacked); a row
# whose worker died is retried until the scheduler's allowed-failures.
TASK_RETRIES = 2
ALLOWED_FAILURES = 2

_STATUS = {EXIT_OK: "ok", EXIT_FLAGGED: "flagged"}


class Failure(Exception):
    """Ends the whole run with a one-line message and an exit code."""

    def __init__(self, code: int, message: str):
        super().__init__(message)
        self.code = code


def _usage(message: str) -> Failure:
    return Failure(EXIT_USAGE, message)


def _bad_input(path: str, what: str) -> Failure:
    return Failure(EXIT_BAD_INPUT, f"{path}: {what}")


@dataclass(frozen=True)
class ManifestRow:
    row: int  # 1-based among the data rows
    line: int  # manifest line the row starts on
    measurement: str
    files: tuple[str, ...]  # as written in the manifest


# ---- manifest ------------------------------------------------------------


def _trim(s: str) -> str:
    return s.strip(" \t")


def _ascii_lower(s: str) -> str:
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in s)


def _parse_csv(text: str, path: str) -> list[tuple[int, list[str]]]:
    """(line, fields) records. Unquoted fields are trimmed; quoted fields keep
    their text as it stands and may span lines."""
    records: list[tuple[int, list[str]]] = []
    fields: list[str] = []
    field: list[str] = []
    quoted = in_quotes = any_ = False
    line = rec_line = 1

    def end_field():
        nonlocal quoted
        s = "".join(field)
        fields.append(s if quoted else _trim(s))
        field.clear()
        quoted = False

    def end_record():
        nonlocal fields, any_
        end_field()
        if not (len(fields) == 1 and fields[0] == "" and not any_):
            records.append((rec_line, fields))
        fields = []
        any_ = False

    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if in_quotes:
            if c == '"':
                if i + 1 < n and text[i + 1] == '"':
                    field.append('"')
                    i += 1
                else:
                    in_quotes = False
            else:
                if c == "\n":
                    line += 1
                field.append(c)
        elif c == '"' and _trim("".join(field)) == "":
            in_quotes = quoted = any_ = True
            field.clear()
        elif c == ",":
            any_ = True
            end_field()
        elif c in "\n\r":
            if c == "\r" and i + 1 < n and text[i + 1] == "\n":
                i += 1
            end_record()
            line += 1
            rec_line = line
        elif quoted:
            if c not in " \t":
                raise _usage(f"{path}:{line}: text after a closing quote")
        elif not fields and not field and c == "#" and not any_:
            # A comment: up to (not including) the next newline.
            while i + 1 < n and text[i + 1] != "\n":
                i += 1
        else:
            field.append(c)
        i += 1
    if in_quotes:
        raise _usage(f"{path}:{rec_line}: unterminated quote")
    end_record()
    return records


def read_manifest(path: str) -> list[ManifestRow]:
    """Rows of a CSV manifest: measurement,file1,file2[,file3]; an optional
    header whose first field is "measurement"; blank lines and lines starting
    with '#' skipped; fields may be double-quoted ("" for a quote). Raises
    Failure: usage for a malformed row (naming file and line), bad input when
    the manifest cannot be read."""
    try:
        st = os.stat(path)
    except OSError as e:
        raise _bad_input(path, "no such file" if e.errno == errno.ENOENT
                         else f"cannot read: {e.strerror}") from None
    if stat.S_ISDIR(st.st_mode):
        raise _bad_input(path, "is a directory, not a manifest")
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise _bad_input(path, f"cannot read: {e.strerror}") from None
    # Bytes that are not UTF-8 survive the round trip back to a file name.
    records = _parse_csv(data.decode("utf-8", "surrogateescape"), path)
    file_counts = {name: len(arguments) for name, arguments in _host.measurements().items()}
    rows: list[ManifestRow] = []
    for i, (line, fields) in enumerate(records):
        name = _ascii_lower(fields[0])
        if i == 0 and name == "measurement":
            continue
        if name not in file_counts:
            names = list(file_counts)
            raise _usage(
                f"{path}:{line}: unknown measurement '{fields[0]}' "
                f"({', '.join(names[:-1])} or {names[-1]})"
            )
        want = file_counts[name]
        files = fields[1:]
        while len(files) > want and files[-1] == "":
            files.pop()
        if len(files) != want or "" in files:
            given = sum(1 for f in files if f)
            raise _usage(f"{path}:{line}: {name} takes {want} files, the row gives {given}")
        rows.append(ManifestRow(len(rows) + 1, line, name, tuple(files)))
    return rows


def _lexically_normal(p: str) -> str:
    """The path without '.', 'x/..' and repeated separators, a trailing
    separator kept, as the command-line runner normalises it."""
    if not p:
        return ""
    absolute = p.startswith("/")
    raw = p.split("/")
    out: list[str] = []
    trailing = False
    for name in raw:
        trailing = name in ("", ".")
        if name in ("", "."):
            continue
        if name == "..":
            if out and out[-1] != "..":
                out.pop()
                trailing = True
            elif not absolute:
                out.append("..")
            continue
        out.append(name)
    text = ("/" if absolute else "") + "/".join(out)
    if trailing and out and out[-1] != "..":
        text += "/"
    return text or "."


def resolve(file: str, base: str) -> str:
    """A manifest path as the runner opens it: relative ones from base (the
    manifest's folder)."""
    if file.startswith("/"):
        return file
    return _lexically_normal(os.path.join(base, file) if base else file)


# ---- results file --------------------------------------------------------


def _as_written(value) -> str:
    """A JSON value as the results file carries it: compact, UTF-8, and the
    bytes of a name that are not UTF-8 as U+FFFD."""
    text = json.dumps(_finite(value), ensure_ascii=False, separators=(",", ":"))
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def _skip_blanks(s: str, at: int) -> int:
    while at < len(s) and s[at] in " \t":
        at += 1
    return at


def _starts_like_result_line(text: str, row_count: int | None) -> bool:
    """Whether text, the unfinished end of a results file, begins as a result
    line of this batch would: {"row": and, once its digits end, a row of the
    manifest (any row when row_count is None). Anything else there is not
    ours to cut."""
    at = _skip_blanks(text, 0)
    if at >= len(text) or text[at] != "{":
        return False
    at = _skip_blanks(text, at + 1)
    if not text.startswith('"row"', at):
        return False
    at = _skip_blanks(text, at + 5)
    if at >= len(text) or text[at] != ":":
        return False
    at = _skip_blanks(text, at + 1)
    digits = 0
    while at + digits < len(text) and text[at + digits] in "0123456789" and digits < 19:
        digits += 1
    if at + digits == len(text):
        return True  # torn inside the number, or right after the colon
    row = int(text[at:at + digits]) if digits else 0
    return row >= 1 and (row_count is None or row <= row_count)


def _check_result_line(line: str, rows: list[ManifestRow], path: str, line_no: int) -> tuple[int, int]:
    """(row, exit code) of one complete line of a results file: a result line
    of this batch, for a row of this manifest with its measurement and files.
    Any other line is refused naming it."""

    def refuse(why: str) -> Failure:
        return _bad_input(path, f"line {line_no}: {why}; not a results file of this batch, "
                                "left as it is")

    try:  # a line that is not UTF-8 is no JSON either
        j = json.loads(line.encode("utf-8", "surrogateescape").decode("utf-8"),
                       parse_constant=_reject_constant)
    except ValueError:
        j = None
    if not isinstance(j, dict):
        raise refuse("not a JSON object")

    def field(key: str):
        if key not in j:
            raise refuse(f'no "{key}"')
        return j[key]

    row = field("row")
    if type(row) is not int or not 1 <= row <= len(rows):
        raise refuse(f'"row" is {_as_written(row)}, not a row number of the manifest '
                     f"(1..{len(rows)})")
    m = rows[row - 1]
    measurement, files = field("measurement"), field("files")
    if not isinstance(measurement, str):
        raise refuse('"measurement" is not a string')
    if not isinstance(files, list) or not all(isinstance(f, str) for f in files):
        raise refuse('"files" is not an array of strings')
    if (_as_written(measurement) != _as_written(m.measurement)
            or _as_written(files) != _as_written(list(m.files))):
        raise refuse(f"row {m.row} does not match the manifest's row {m.row} (these results "
                     "belong to another manifest)")
    code = field("exit_code")
    if type(code) is not int or not EXIT_OK <= code <= EXIT_OUTPUT:
        raise refuse(f'"exit_code" is {_as_written(code)}, not an exit code '
                     f"{EXIT_OK}..{EXIT_OUTPUT}")
    if field("status") not in ("ok", "flagged", "error"):
        raise refuse('"status" is not "ok", "flagged" or "error"')
    if "result" in j and not isinstance(j["result"], dict):
        raise refuse('"result" is not an object')
    if "error" in j and not isinstance(j["error"], str):
        raise refuse('"error" is not a string')
    return m.row, code


def _reject_constant(name):
    raise ValueError(name)


def _refuse_overwrite(output: str, inputs: list[str]) -> None:
    """Refuses to let output be one of inputs, by file identity."""
    try:
        out = os.stat(output)
    except OSError:
        return
    for path in inputs:
        try:
            st = os.stat(path)
        except OSError:
            continue
        if (st.st_dev, st.st_ino) == (out.st_dev, out.st_ino):
            raise _usage(f"{output}: is the input {path}, which writing it would replace; "
                         "choose another output file")


def open_results(output: str, manifest: str, rows: list[ManifestRow],
                 resume: bool) -> tuple[int, dict[int, int]]:
    """The results file's descriptor and the rows it already holds (row ->
    exit code). When resuming, checks that every line is a result line of
    this batch and cuts a last line that a kill left unfinished, so that its
    row runs again. A file that is not this batch's results is refused and
    left as it is."""
    if not output:
        if resume:
            raise _usage("--resume needs the results file given with -o")
        return sys.stdout.fileno(), {}
    _refuse_overwrite(output, [manifest])
    done: dict[int, int] = {}
    try:
        st = os.stat(output)
    except OSError:
        st = None
    if st is not None and not resume and stat.S_ISREG(st.st_mode) and st.st_size > 0:
        try:
            with open(output, "rb") as f:
                head = f.read(64).decode("utf-8", "surrogateescape")
        except OSError:
            head = ""
        if not _starts_like_result_line(head.split("\n", 1)[0], None):
            raise _usage(f"{output}: exists and is not a results file of audiomeas batch; "
                         "choose another output file")
        raise _usage(f"{output}: already holds results; continue it with --resume, "
                     "or remove it to start afresh")
    if st is not None and resume:
        if not stat.S_ISREG(st.st_mode):
            raise _usage(f"{output}: --resume needs a regular results file")
        try:
            with open(output, "rb") as f:
                text = f.read().decode("utf-8", "surrogateescape")
        except OSError as e:
            raise _bad_input(output, f"cannot read: {e.strerror}") from None
        complete = text.rfind("\n") + 1
        lines = text[:complete].split("\n")[:-1]
        for line_no, line in enumerate(lines, start=1):
            if _trim(line):
                row, code = _check_result_line(line, rows, output, line_no)
                done[row] = code
        if complete < len(text):
            if not _starts_like_result_line(text[complete:], len(rows)):
                raise _bad_input(output, f"line {len(lines) + 1} is unfinished and does not begin "
                                         "as a result line of this batch; not a results file of "
                                         "this batch, left as it is")
            try:
                os.truncate(output, len(text[:complete].encode("utf-8", "surrogateescape")))
            except OSError as e:
                raise Failure(EXIT_OUTPUT, f"{output}: cannot cut its unfinished last line: "
                                           f"{e.strerror}") from None
    try:
        fd = os.open(output, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o666)
    except OSError as e:
        raise Failure(EXIT_OUTPUT, f"{output}: cannot write: {e.strerror}") from None
    return fd, done


def _finite(value):
    """value with non-finite numbers as null, as the host layer reports them,
    and integers beyond 64 bits as the doubles a JSON reader makes of them."""
    if type(value) is int and not -(2**63) <= value < 2**64:
        try:
            return float(value)
        except OverflowError:
            return None
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, dict):
        return {k: _finite(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_finite(v) for v in value]
    return value


def write_line(fd: int, line: dict) -> None:
    """Appends one results line with a single write(2) (repeated only for
    what a short write left), so a kill leaves whole lines and at most one
    unfinished last line."""
    data = (_as_written(line) + "\n").encode("utf-8")
    while data:
        n = os.write(fd, data)
        if n <= 0:
            raise OSError(errno.EIO, os.strerror(errno.EIO))
        data = data[n:]


def result_line(row: ManifestRow, code: int, report: dict) -> dict:
    """The results line of a measured row (the host layer's code and report,
    or its {"error": message})."""
    line = {"row": row.row, "measurement": row.measurement, "files": list(row.files)}
    if code in _STATUS:
        line.update(status=_STATUS[code], exit_code=code, result=report)
    else:
        error = report.get("error") if isinstance(report, dict) else None
        line.update(status="error", exit_code=code, error=str(error or f"exit code {code}"))
    return line


def failure_line(row: ManifestRow, exc: BaseException) -> dict:
    """The error line of a row that Dask gave up on."""
    if type(exc).__name__ == "KilledWorker":
        worker = getattr(getattr(exc, "last_worker", None), "address", "?")
        tries = getattr(exc, "allowed_failures", ALLOWED_FAILURES) + 1
        message = (f"the worker measuring the row died (killed or out of memory), "
                   f"{tries} attempt{'s' if tries != 1 else ''} in all; the last on {worker}")
    elif isinstance(exc, MemoryError):
        message = "out of memory"
    else:
        message = f"worker failed: {type(exc).__name__}: {exc}"
    return {"row": row.row, "measurement": row.measurement, "files": list(row.files),
            "status": "error", "exit_code": EXIT_BAD_INPUT,
            "error": " ".join(message.split())}


# ---- running -------------------------------------------------------------


def measure_row(measurement: str, files: list[str], channel: int) -> tuple[int, dict]:
    """A worker's task: one row through the host layer."""
    return _host.measure_files(measurement, files, channel)


class _Progress:
    """A row counter on stderr, drawn only when stderr is a terminal."""

    WIDTH = 30

    def __init__(self, total: int, already: int):
        self.total, self.done, self.flagged, self.failed = total, already, 0, 0
        self.shown = sys.stderr.isatty()
        self._draw()

    def finished(self, code: int) -> None:
        self.done += 1
        self.flagged += code == EXIT_FLAGGED
        self.failed += code not in (EXIT_OK, EXIT_FLAGGED)
        self._draw()

    def close(self) -> None:
        if self.shown:
            sys.stderr.write("\n")

    def _draw(self) -> None:
        if not self.shown:
            return
        filled = self.WIDTH if self.total == 0 else self.WIDTH * self.done // self.total
        text = f"\r[{'#' * filled}{'.' * (self.WIDTH - filled)}] {self.done}/{self.total} rows"
        if self.flagged:
            text += f", {self.flagged} flagged"
        if self.failed:
            text += f", {self.failed} failed"
        sys.stderr.write(text)
        sys.stderr.flush()


def _dashboard(client) -> str:
    try:
        link = client.dashboard_link
    except (KeyError, AttributeError):  # a scheduler without the dashboard service
        return "dashboard: not running"
    if importlib.util.find_spec("bokeh") is None:
        link += " (its charts need bokeh)"
    return f"dashboard: {link}"


def _check_workers(client) -> None:
    workers = client.scheduler_info().get("workers", {})
    if not workers:
        print("batch: the scheduler has no worker yet; the rows wait for one", file=sys.stderr)
    for address, info in workers.items():
        if info.get("nthreads", 1) > 1:
            print(f"batch: worker {address} runs {info['nthreads']} threads; start workers "
                  "with --nthreads 1 so that one process measures one row at a time",
                  file=sys.stderr)


class _WriteFailed(Exception):
    """A results line could not be written; the message is the reason."""


def _connect(scheduler: str | None, workers: int):
    """(client, cluster): the scheduler at that address, else a new local
    cluster (closed by the caller) of single-threaded worker processes."""
    import logging
    import warnings

    import dask
    from distributed import Client, LocalCluster

    try:
        if scheduler:
            return Client(scheduler, timeout="30s"), None
        with dask.config.set({"distributed.scheduler.allowed-failures": ALLOWED_FAILURES}), \
                warnings.catch_warnings():
            warnings.simplefilter("ignore")  # "port 8787 in use": the link printed tells
            cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                   silence_logs=logging.ERROR)
        return Client(cluster), cluster
    except (OSError, TimeoutError) as e:
        where = scheduler or "local cluster"
        raise Failure(EXIT_BAD_INPUT, f"{where}: cannot connect: {e}") from None


def run(manifest: str, output: str = "", *, scheduler: str | None = None,
        workers: int | None = None, resume: bool = False, channel: int = 0,
        client=None) -> int:
    """Runs the rows not yet in output (all unless resuming) and returns the
    exit code: EXIT_BAD_INPUT if any row failed, else EXIT_FLAGGED if any
    raised its flag, else EXIT_OK, counting rows done before a resume.
    Uses client if given, else the scheduler at that address, else a local
    cluster of workers processes (default: one per core). Raises Failure for
    a bad manifest, results file or cluster, or a results line that cannot
    be written (no further row starts then)."""
    rows = read_manifest(manifest)
    fd, done = open_results(output, manifest, rows, resume)
    todo = [r for r in rows if r.row not in done]
    codes = dict(done)
    cluster = None
    try:
        if todo:
            if client is None:
                client, cluster = _connect(scheduler, max(1, min(workers or os.cpu_count() or 1,
                                                                 len(todo))))
            print(_dashboard(client), file=sys.stderr)
            _check_workers(client)
        not_run = _run_rows(client, todo, os.path.dirname(manifest), channel, fd, codes,
                            len(rows))
    except _WriteFailed as e:
        raise Failure(EXIT_OUTPUT,
                      f"{output or 'standard output'}: cannot write: {e}; stopped with "
                      f"{len(codes)} of {len(rows)} rows written, the others not measured "
                      "(continue with --resume once it can be written)") from None
    finally:
        if output:
            os.close(fd)
        if cluster is not None:
            client.close()
            cluster.close()
    ok = sum(1 for c in codes.values() if c == EXIT_OK)
    flagged = sum(1 for c in codes.values() if c == EXIT_FLAGGED)
    failed = len(codes) - ok - flagged
    print(f"batch: {len(rows)} rows ({len(codes) - len(done)} run now, {len(done)} done before): "
          f"{ok} ok, {flagged} flagged, {failed} failed", file=sys.stderr)
    if not_run:
        print(f"batch: {not_run} rows not run (the cluster dropped them); "
              "continue with --resume", file=sys.stderr)
    if failed or not_run:
        return EXIT_BAD_INPUT
    return EXIT_FLAGGED if flagged else EXIT_OK


def _run_rows(client, todo, base, channel, fd, codes, total) -> int:
    """Measures todo on the cluster, appending each row's line as it
    finishes (_WriteFailed when one cannot be written); returns how many rows the
    cluster dropped unmeasured."""
    progress = _Progress(total, total - len(todo))
    if not todo:
        progress.close()
        return 0
    from distributed import CancelledError, as_completed

    run_id = uuid.uuid4().hex[:8]
    futures = client.map(
        measure_row,
        [r.measurement for r in todo],
        [[resolve(f, base) for f in r.files] for r in todo],
        [channel] * len(todo),
        key=[f"row-{r.row}-{run_id}" for r in todo],
        retries=TASK_RETRIES,
        pure=False,
    )
    row_of = {f.key: r for f, r in zip(futures, todo)}
    not_run = 0
    try:
        for future in as_completed(futures):
            row = row_of[future.key]
            # A result whose worker died before it was fetched is computed
            # again: result() waits for that.
            try:
                code, report = future.result()
                line = result_line(row, code, report)
            except CancelledError:  # dropped with the scheduler: left to --resume
                not_run += 1
                continue
            except Exception as exc:  # noqa: BLE001 - the row's error, not ours
                line = failure_line(row, exc)
            future.release()
            try:
                write_line(fd, line)
            except OSError as e:
                raise _WriteFailed(e.strerror) from None
            codes[row.row] = line["exit_code"]
            progress.finished(line["exit_code"])
    finally:
        progress.close()
        client.cancel([f for f in futures if not f.done()])
    return not_run
