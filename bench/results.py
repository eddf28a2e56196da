"""Keeps what the scripts in bench/ measured in one file, bench/results.md: an entry for each script,
headed by its name, which the script replaces each time it runs to the end, with the machine (its
processor, cores and load), the date and the commit it measured."""
import atexit
import datetime
import io
import os
import shlex
import subprocess
import sys
import textwrap

HERE = os.path.dirname(os.path.abspath(__file__))
RESULTS = os.path.join(HERE, "results.md")


def processor():
    """The processor's model, as the kernel names it, and the number of cores."""
    with open("/proc/cpuinfo") as f:
        models = [line.split(":", 1)[1].strip() for line in f if line.startswith("model name")]
    return f"{models[0] if models else os.uname().machine}, {os.cpu_count()} cores"


def commit():
    """The commit measured, marked `-dirty` where the tracked files differ from it."""
    git = ["git", "-C", HERE]
    head = subprocess.run([*git, "rev-parse", "--short", "HEAD"], capture_output=True, text=True)
    if head.returncode != 0:
        return "none (no git checkout)"
    dirty = subprocess.run([*git, "diff", "--quiet", "HEAD", "--", ":/", ":/!bench/results.md"]).returncode != 0
    return head.stdout.strip() + "-dirty" * dirty


def replace_entry(text, name, entry):
    """`text` with the entry headed `## name` replaced by `entry`, or `entry` added at the end."""
    lines = text.splitlines(keepends=True)
    heading = f"## {name}\n"
    if heading not in lines:
        return text.rstrip("\n") + "\n\n" + entry
    start = lines.index(heading)
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("## ")), len(lines))
    return "".join(lines[:start]) + entry + ("\n" if end < len(lines) else "") + "".join(lines[end:])


class Tee(io.StringIO):
    def write(self, text):
        sys.__stdout__.write(text)
        return super().write(text)


def recording(script):
    """From now on, prints as before and keeps what is printed; at the end of the run, records it as
    the entry of `script` (its __file__) in results.md, unless the run ended in an error (status 1
    is no error: it means a figure missed its target, which the entry shows)."""
    load = os.getloadavg()[0]
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    sys.stdout = printed = Tee()
    failed = []
    excepthook = sys.excepthook
    sys.excepthook = lambda *error: (failed.append(error), excepthook(*error))
    atexit.register(lambda: failed or record(script, when, load, printed.getvalue()))


def record(script, when, load, printed):
    name = os.path.basename(script)
    shared = ": other work shared the machine, so the figures are rough" if load >= 1 else ""
    command = shlex.join([f"bench/{name}", *sys.argv[1:]])
    said = textwrap.fill(f"Measured on {when}, commit {commit()}, by `{command}`, on {processor()}, with a load"
                         f" average of {load:.1f} at the start and {os.getloadavg()[0]:.1f} at the end{shared}.", 100)
    entry = f"## {name}\n\n{said}\n\n```text\n{printed.rstrip()}\n```\n"
    with open(RESULTS) as f:
        text = f.read()
    with open(RESULTS, "w") as f:
        f.write(replace_entry(text, name, entry))
    sys.stdout = sys.__stdout__
    print(f"recorded in {os.path.relpath(RESULTS)}")
