#!/usr/bin/env python3
"""Runs the examples of README.md and docs/*.md and compares their output.

A fenced block is an example when its info string says so:

    ```sh run               run by bash (-e -o pipefail), output compared
    ```python run           run by python3
    ```vb run, ```js run    run by the 64-bit cscript under Wine (--wine only)
    ```c file=app.c         not run: written to app.c for the blocks after it
    ```text output          what the block before it prints (stdout and
                            stderr as a terminal shows them, in order)

A runnable block without an output block must succeed and print nothing.
The blocks of one page run in order in one scratch directory, as one shell
session (what a block exports, the blocks after it see), with the
build installed into a scratch prefix and put on PATH, PKG_CONFIG_PATH,
LD_LIBRARY_PATH and MANPATH, and the Python module on PYTHONPATH, so that a
page's commands are exactly what a reader types after installing.

    run_examples.py --build DIR [--python-module-dir DIR] PAGE...
    run_examples.py --wine x64 PREFIX PAGE...      (the COM examples only)

Exit status 0 when every example ran as shown, 1 otherwise.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^(```+)([^`\s]*)\s*(.*)$")
NATIVE = {"sh": "bash", "bash": "bash", "python": "python"}
WINE = {"vb": ".vbs", "vbscript": ".vbs", "js": ".js", "javascript": ".js"}
TIMEOUT = 60


class Block:
    def __init__(self, page, line, lang, flags, text):
        self.page, self.line, self.lang, self.text = page, line, lang, text
        self.words = flags.split()
        self.options = dict(w.split("=", 1) for w in self.words if "=" in w)
        self.expected = None

    @property
    def runs(self):
        return "run" in self.words

    def where(self):
        return f"{self.page}:{self.line}"


def blocks(path):
    """The fenced blocks of a page, each with the output block that follows it."""
    lines = open(path, encoding="utf-8").read().split("\n")
    found, i = [], 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        # A fence ends at one of at least as many backticks, so that a page
        # can show a marked example inside a longer fence without running it.
        start, body, ticks = i + 1, [], m.group(1)
        i += 1
        while i < len(lines) and lines[i].rstrip() != ticks and not re.fullmatch(ticks + "`*", lines[i].rstrip()):
            body.append(lines[i])
            i += 1
        if i == len(lines):
            sys.exit(f"{path}:{start}: a fence that is never closed")
        i += 1
        block = Block(os.path.relpath(path), start, m.group(2), m.group(3), "\n".join(body) + "\n")
        if block.lang == "text" and "output" in block.words:
            if not found or not found[-1].runs or found[-1].expected is not None:
                sys.exit(f"{block.where()}: an output block that follows no runnable block")
            found[-1].expected = block.text
        else:
            found.append(block)
    return found


def normal(text):
    lines = [line.rstrip() for line in text.replace("\r\n", "\n").split("\n")]
    while lines and not lines[-1]:
        lines.pop()
    return "\n".join(lines)


def install(build, into):
    subprocess.run(["cmake", "--install", build, "--prefix", into], check=True, stdout=subprocess.DEVNULL)
    libdir = next(os.path.dirname(root) for root, _, files in os.walk(into) if "morvik.pc" in files)
    return libdir


def run_native(block, scratch, env, python):
    if block.lang == "python":
        command = [python, "-c", block.text]
        env = dict(env, **session_exports(scratch))
    else:
        # One shell session per page: what a block exports, the next sees.
        session = "[ -f .session ] && . ./.session\ntrap 'export -p > .session' EXIT\n"
        command = ["bash", "-e", "-o", "pipefail", "-c", session + block.text]
    return subprocess.run(command, cwd=scratch, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          stdin=subprocess.DEVNULL, timeout=TIMEOUT)


def session_exports(scratch):
    """What the page's shell blocks exported so far, for its Python blocks."""
    try:
        text = open(os.path.join(scratch, ".session"), encoding="utf-8").read()
    except FileNotFoundError:
        return {}
    found = re.findall(r'^declare -x (\w+)="((?:[^"\\]|\\.)*)"$', text, re.M)
    return {name: re.sub(r'\\(.)', r'\1', value) for name, value in found}


def run_wine(block, scratch, wine, arch, prefix, index):
    script = os.path.join(scratch, f"example{index}{WINE[block.lang]}")
    with open(script, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(block.text)
    windows = "Z:" + script.replace("/", "\\")
    return subprocess.run([wine, arch, prefix, "cscript", "//nologo", windows], cwd=scratch,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                          timeout=TIMEOUT)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", help="the native build directory, installed into a scratch prefix")
    parser.add_argument("--python-module-dir", help="where the built Python module is")
    parser.add_argument("--python", default=sys.executable, help="the interpreter the module is built for")
    parser.add_argument("--wine", nargs=2, metavar=("ARCH", "PREFIX"), help="run the COM examples only")
    parser.add_argument("--keep", action="store_true", help="keep the scratch directories")
    parser.add_argument("pages", nargs="+")
    args = parser.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    wine = os.path.join(here, "..", "..", "cmake", "wine.sh")

    if args.wine:
        check = subprocess.run([wine, *args.wine, "--check"])
        if check.returncode != 0:
            return check.returncode
    work = tempfile.mkdtemp(prefix="morvik-examples-")
    env = dict(os.environ)
    for name in ("MORVIK_KEY_HEX", "PYTHONSTARTUP"):
        env.pop(name, None)
    env["LC_ALL"] = "C.UTF-8"
    if args.build:
        prefix = os.path.join(work, "prefix")
        libdir = install(os.path.abspath(args.build), prefix)
        env["PATH"] = os.path.join(prefix, "bin") + os.pathsep + env["PATH"]
        env["PKG_CONFIG_PATH"] = os.path.join(libdir, "pkgconfig")
        env["LD_LIBRARY_PATH"] = libdir
        env["MANPATH"] = os.path.join(prefix, "share", "man") + ":"
        env["MORVIK_PREFIX"] = prefix
        if args.python_module_dir:
            env["PYTHONPATH"] = os.path.abspath(args.python_module_dir)

    ran = skipped = failed = 0
    for page in args.pages:
        scratch = os.path.join(work, re.sub(r"\W", "_", os.path.relpath(page)))
        os.makedirs(scratch)
        for index, block in enumerate(blocks(page)):
            if "file" in block.options:
                with open(os.path.join(scratch, block.options["file"]), "w", encoding="utf-8") as f:
                    f.write(block.text)
                continue
            if not block.runs:
                continue
            com = block.lang in WINE
            if com != bool(args.wine):
                skipped += 1
                continue
            if block.lang not in NATIVE and not com:
                print(f"{block.where()}: no way to run a block of '{block.lang}'")
                failed += 1
                continue
            try:
                result = (run_wine(block, scratch, wine, *args.wine, index) if com
                          else run_native(block, scratch, env, args.python))
                got, status = result.stdout.decode("utf-8", "replace"), result.returncode
            except subprocess.TimeoutExpired:
                got, status = f"(no end after {TIMEOUT} s)", -1
            ran += 1
            expected = block.expected or ""
            if status != 0 or normal(got) != normal(expected):
                failed += 1
                print(f"FAIL {block.where()} ({block.lang}, status {status})")
                print("--- the example")
                print(block.text.rstrip())
                print("--- expected")
                print(normal(expected))
                print("--- got")
                print(normal(got))
                print()
    print(f"{ran} examples ran, {failed} failed, {skipped} left to the other run "
          f"({'native' if args.wine else 'Wine'}); pages: {len(args.pages)}")
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print("scratch:", work)
    return 1 if failed or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
