"""Manifest runs on a Dask cluster, interchangeable with ``audiomeas batch``.

The manifest, the rows' jobs, the results file, resume and the lock that
keeps a second writer out are the host layer's (``audiomeas_batch_open`` and
its siblings in include/audiomeas.h), the very code the command-line runner
uses, so either runner continues the other's results file and both give the
same exit codes. This module only schedules: Dask workers measure the rows
(``audiomeas_measure_files`` on each row's job, every worker reading its own
files) and the driving process records each row as it finishes.

Workers run one thread each: envelo's working arrays are static, so one
process measures one row at a time.
"""

from __future__ import annotations

import importlib.util
import os
import sys
import uuid

from . import _host
from ._host import EXIT_BAD_INPUT, EXIT_FLAGGED, EXIT_OK, EXIT_OUTPUT, EXIT_USAGE  # noqa: F401
from ._host import BatchFailure as Failure

# A row whose task raised is retried this many times (another worker may
# have the library, the memory or the mount the first one lacked); a row
# whose worker died is retried until the scheduler's allowed-failures.
TASK_RETRIES = 2
ALLOWED_FAILURES = 2


def failure_report(exc: BaseException) -> dict:
    """The error of a row that Dask gave up on, as the host layer writes one."""
    if type(exc).__name__ == "KilledWorker":
        worker = getattr(getattr(exc, "last_worker", None), "address", "?")
        tries = getattr(exc, "allowed_failures", ALLOWED_FAILURES) + 1
        message = (f"the worker measuring the row died (killed or out of memory), "
                   f"{tries} attempt{'s' if tries != 1 else ''} in all; the last on {worker}")
    elif isinstance(exc, MemoryError):
        message = "out of memory"
    else:
        message = f"worker failed: {type(exc).__name__}: {exc}"
    return {"error": " ".join(message.split())}


def measure_row(job: str) -> tuple[int, dict]:
    """A worker's task: one row's job through the host layer."""
    return _host.measure_job(job)


class _Progress:
    """A row counter on stderr, drawn only when stderr is a terminal."""

    WIDTH = 30

    def __init__(self, total: int, already: int):
        self.total, self.done, self.flagged, self.failed = total, already, 0, 0
        self.shown = sys.stderr is not None and sys.stderr.isatty()
        self._draw()

    def finished(self, code: int) -> None:
        self.done += 1
        self.flagged += code == EXIT_FLAGGED
        self.failed += code not in (EXIT_OK, EXIT_FLAGGED)
        self._draw()

    def close(self) -> None:
        if self.shown:
            sys.stderr.write("\n")

    def say(self, text: str) -> None:
        """A line of its own, above the bar."""
        if sys.stderr is None:
            return
        sys.stderr.write(("\r\033[K" if self.shown else "") + text + "\n")
        self._draw()

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


def _say(text: str) -> None:
    if sys.stderr is not None:
        print(text, file=sys.stderr)


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
        _say("batch: the scheduler has no worker yet; the rows wait for one")
    for address, info in workers.items():
        if info.get("nthreads", 1) > 1:
            _say(f"batch: worker {address} runs {info['nthreads']} threads; start workers "
                 "with --nthreads 1 so that one process measures one row at a time")


def check_scheduler(address: str) -> None:
    """Refuses (usage) an address that names no scheduler, before any work."""
    from distributed.comm import parse_address

    try:
        scheme, location = parse_address(address, strict=True)
    except (ValueError, TypeError) as e:
        raise Failure(EXIT_USAGE, f"--scheduler {address}: not a scheduler address "
                                  f"(write e.g. tcp://host:8786): {e}") from None
    if not location:
        raise Failure(EXIT_USAGE, f"--scheduler {address}: no host in the address")


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
    except (OSError, TimeoutError, ValueError) as e:
        raise Failure(EXIT_BAD_INPUT, f"{scheduler or 'local cluster'}: cannot connect: {e}") from None


def run(manifest: str, output: str = "", *, scheduler: str | None = None,
        workers: int | None = None, resume: bool = False, channel: int | str = 0,
        options: dict | None = None, client=None) -> int:
    """Runs the rows not yet in output (all unless resuming) and returns the
    batch's exit code, as ``audiomeas batch`` does. options: batch-wide
    measurement options by key (pad_samples=..., window_s=...). Uses client
    if given, else the scheduler at that address, else a local cluster of
    workers processes (default: one per core). Raises Failure for a bad
    manifest, results file or cluster, or a results line that cannot be
    written (no further row starts then)."""
    if scheduler and client is None:
        check_scheduler(scheduler)
    batch = _host.Batch({"manifest": manifest, "output": output, "resume": resume,
                         "channel": channel, "options": options or {}})
    cluster = None
    try:
        for note in batch.notes:
            _say(f"batch: {note}")
        if batch.todo and client is None:
            client, cluster = _connect(scheduler, max(1, min(workers or os.cpu_count() or 1,
                                                             len(batch.todo))))
        if batch.todo:
            _say(_dashboard(client))
            _check_workers(client)
        not_run = _run_rows(client, batch)
        summary = batch.summary(not_run)
    finally:
        batch.close()
        if cluster is not None:
            client.close()
            cluster.close()
    _say(summary["text"])
    return summary["exit_code"]


def _run_rows(client, batch) -> int:
    """Measures the batch's rows on the cluster, recording each as it
    finishes; returns how many rows the cluster dropped unmeasured."""
    progress = _Progress(batch.rows, batch.done_before)
    if not batch.todo:
        progress.close()
        return 0
    import json

    from distributed import CancelledError, as_completed

    run_id = uuid.uuid4().hex[:8]
    futures = client.map(measure_row, [json.dumps(t["job"], ensure_ascii=False) for t in batch.todo],
                         key=[f"row-{t['row']}-{run_id}" for t in batch.todo],
                         retries=TASK_RETRIES, pure=False)
    row_of = {f.key: t["row"] for f, t in zip(futures, batch.todo)}
    not_run = 0
    try:
        for future in as_completed(futures):
            # A result whose worker died before it was fetched is computed
            # again: result() waits for that.
            try:
                code, report = future.result()
            except CancelledError:  # dropped with the scheduler: left to --resume
                not_run += 1
                continue
            except Exception as exc:  # noqa: BLE001 - the row's error, not ours
                code, report = EXIT_BAD_INPUT, failure_report(exc)
            future.release()
            notice = batch.record(row_of[future.key], code, report)
            progress.finished(code)
            if notice:
                progress.say(f"batch: {notice}")
    finally:
        progress.close()
        client.cancel([f for f in futures if not f.done()])
    return not_run
