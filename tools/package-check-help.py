"""package-check-help.py AUDIOMEAS MANPAGE COMPLETION: the manual page and
the bash completion against the program's help.

Every subcommand that a "Subcommands:" list names (at every level) and every
option of its "Options:" list must be in the manual page, in the section of
that subcommand, and the completion must offer exactly those, plus file names,
choices or nothing where a value or an argument stands. Fails naming what
is missing.
"""

import re
import subprocess
import sys
import tempfile
from pathlib import Path

program, manpage, completion = (str(Path(a).resolve()) for a in sys.argv[1:4])


def help_text(path):
    return subprocess.run([program, *path, "--help"], capture_output=True, text=True,
                          check=True).stdout


def listed(text, heading):
    """The first column of a help block ("Options:", "Subcommands:")."""
    names, inside = [], False
    for line in text.splitlines():
        if line == heading:
            inside = True
        elif inside and not line.strip():
            break
        elif inside and re.match(r"  \S", line):
            names.append(line.split()[0])
    return names


def commands(path=()):
    """{path: (subcommands, options)} for the top and every subcommand."""
    text = help_text(path)
    subs = listed(text, "Subcommands:")
    options = [n for column in listed(text, "Options:") for n in column.split(",")]
    found = {path: (subs, options)}
    for sub in subs:
        found.update(commands(path + (sub,)))
    return found


def man_sections():
    """The page's text per subcommand section (the top level: before them)."""
    text = Path(manpage).read_text()
    text = re.sub(r"\\f(\[[^]]*\]|\(..|.)", "", text).replace("\\-", "-").replace("\\,", "")
    text = text.replace("\\/", "")
    parts = re.split(r'^\.SS "audiomeas ([^"]*)"$', text, flags=re.M)
    sections = {(): parts[0]}
    for name, body in zip(parts[1::2], parts[2::2]):
        sections[tuple(name.split())] = body
    return sections


def complete(words, cwd):
    """What the completion offers with the cursor after words."""
    script = ('source "$0"; f=$(complete -p audiomeas | sed "s/.*-F \\([^ ]*\\).*/\\1/"); '
              'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); "$f"; '
              'printf "%s\\n" "${COMPREPLY[@]}"')
    r = subprocess.run(["bash", "-c", script, completion, "audiomeas", *words], cwd=cwd,
                       capture_output=True, text=True, check=True)
    return sorted(w for w in r.stdout.splitlines() if w)


problems = []
tree = commands()
sections = man_sections()
with tempfile.TemporaryDirectory() as cwd:
    (Path(cwd) / "take.wav").write_bytes(b"")
    for path, (subs, options) in tree.items():
        where = " ".join(("audiomeas",) + path)
        section = sections.get(path)
        if section is None:
            problems.append(f"manual page: no section for {where}")
        else:
            for name in subs + options:
                if not re.search(r"(?<![\w-])" + re.escape(name) + r"(?![\w-])", section):
                    problems.append(f"manual page: {where} lacks {name}")
        if sorted(options) != complete(list(path) + ["-"], cwd):
            problems.append(f"completion of {where} -: {complete(list(path) + ['-'], cwd)}, "
                            f"the help lists {sorted(options)}")
        if subs and sorted(subs) != complete(list(path) + [""], cwd):
            problems.append(f"completion of {where}: {complete(list(path) + [''], cwd)}, "
                            f"the help lists {sorted(subs)}")
    # What stands after an option or as an argument.
    for words, wanted in [
        (["align", ""], ["take.wav"]),
        (["align", "-o", ""], ["take.wav"]),
        (["align", "--channel", ""], ["all"]),
        (["align", "--json", "a.wav", ""], ["take.wav"]),
        (["batch", "--memory-budget", "8G", ""], ["take.wav"]),
        (["generate", "attack-release", "--colour", ""], ["pink", "white"]),
        (["generate", "transient-snr", ""], ["take.wav"]),
        (["demo", "--write-signals", ""], ["take.wav"]),
    ]:
        if complete(words, cwd) != wanted:
            problems.append(f"completion after {' '.join(words)}: {complete(words, cwd)}, "
                            f"wanted {wanted}")

for p in problems:
    print("package-check:", p, file=sys.stderr)
if problems:
    sys.exit(1)
print(f"package-check: {len(tree)} commands, each named in the manual page and the completion")
