#!/usr/bin/env python3
"""Checks what a user reads and types against the programs of a build.

man         every manual page against the README: each command word and option of the README's
            tables for a command is on its page, and each subcommand on the page is in those tables.
completion  the bash completion of each command with subcommands offers every subcommand and every
            option that the command's own --help lists, and the values and files where they belong.
"""
import argparse
import gzip
import os
import re
import subprocess
import sys
import tempfile

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def read_commands(packaging_dir):
    """name -> (program, page, subcommands) for the commands of the build."""
    commands = {}
    with open(os.path.join(packaging_dir, "commands.txt"), encoding="utf-8") as table:
        for line in table:
            if line.strip():
                name, program, page, subcommands = line.rstrip("\n").split("\t")
                commands[name] = (program, page, subcommands.split())
    return commands


def page_text(page):
    """The words of a manual page, with the roff markup taken out."""
    with gzip.open(page, "rt", encoding="utf-8") as source:
        roff = source.read()
    text = re.sub(r"\\f[BIRP]|\\f\(..|\\&|\\\(em", "", roff)
    text = text.replace("\\-", "-").replace("\\e", "\\")
    return text


def page_sections(text):
    """Section name -> the tags of its .TP paragraphs, whitespace collapsed."""
    sections = {}
    for part in re.split(r"^\.SH ", text, flags=re.M)[1:]:
        name, _, body = part.partition("\n")
        lines = body.split("\n")
        tags = [" ".join(lines[i + 1].split()) for i, line in enumerate(lines[:-1]) if line.startswith(".TP")]
        sections[name.strip().strip('"')] = tags
    return sections


def job_rows(rows):
    """(word, mask) of the rows of a job table: `word` | mask | meaning."""
    return {(row[0].strip("`"), row[1]) for row in rows
            if len(row) == 3 and re.fullmatch(r"`[a-z-]+`", row[0]) and row[1].isdigit()}


def page_subcommands(page, command):
    """The subcommands whose --help the page shows (.SS "<command> <sub>")."""
    return re.findall(r'^\.SS "' + re.escape(command) + r' ([a-z][\w-]*)"', page_text(page), re.M)


def check_page_subcommands(page, command, subcommands):
    """Every subcommand of the build is on the page, with its --help."""
    shown = page_subcommands(page, command)
    for sub in subcommands:
        if sub not in shown:
            fail(f"{command}(1) lacks the options of `{command} {sub}` (did its --help fail?)")


def readme_tables(readme, command):
    """The body rows of the tables in the README's '## ' sections whose heading names the command."""
    rows = []
    inside = False
    with open(readme, encoding="utf-8") as source:
        lines = source.read().splitlines()
    for index, line in enumerate(lines):
        if line.startswith("## "):
            inside = re.search(r"(?<![\w-])" + re.escape(command) + r"(?![\w-])", line) is not None
            continue
        if not inside or not line.startswith("|"):
            continue
        previous = lines[index - 1] if index else ""
        if re.match(r"^\|[\s|:-]+\|$", line) or not previous.startswith("|"):
            continue  # the separator, or the header row
        # A "\|" inside a cell (csv\|json) is the text of the cell, not a column border.
        rows.append([cell.strip() for cell in re.split(r"(?<!\\)\|", line.strip().strip("|"))])
    return rows


def command_tokens(cell):
    """Command words and options written in code spans of a table cell."""
    tokens = []
    for span in re.findall(r"`([^`]+)`", cell):
        for token in re.split(r"[\s\[\]|,]+", span):
            if re.fullmatch(r"--[a-z][a-z0-9-]*|[a-z][a-z0-9-]+", token):
                tokens.append(token)
    return tokens


def check_man(args):
    commands = read_commands(args.packaging_dir)
    for command, (_, page, subcommands) in commands.items():
        check_page_subcommands(page, command, subcommands)
        text = page_text(page)
        if ".SH NAME" not in text or not re.search(r"^" + re.escape(command) + r" - \S", text, re.M):
            fail(f"{command}(1) has no NAME line")
        rows = readme_tables(args.readme, command)
        if not rows:
            if subcommands:
                print(f"note: the README has no command table for {command}")
            continue
        checked = 0
        first_words = set()
        for row in rows:
            tokens = command_tokens(row[0])
            if tokens[:1] == [command]:
                tokens = tokens[1:]  # a row written as the whole command line
            if tokens:
                first_words.add(tokens[0])
            for token in tokens:
                checked += 1
                if not re.search(r"(?<![\w-])" + re.escape(token) + r"(?![\w-])", text):
                    fail(f"the README's `{token}` ({row[0]}) is not on the page {command}(1)")
        for sub in subcommands:
            if sub not in first_words:
                fail(f"{command}(1) shows the command `{sub}`, which the README's tables for {command} lack")
        # Where the page has its own command and job lists, they are the README's rows, one for one.
        sections = page_sections(text)
        if "COMMANDS" in sections:
            on_page = set(sections["COMMANDS"])
            in_readme = {" ".join(row[0].replace("`", "").split()) for row in rows
                         if command_tokens(row[0])[:1] and command_tokens(row[0])[0] in subcommands}
            for entry in sorted(in_readme - on_page):
                fail(f"the README's command `{entry}` is not in the COMMANDS of {command}(1)")
            for entry in sorted(on_page - in_readme):
                fail(f"{command}(1) lists the command `{entry}`, which the README's table lacks")
        if "JOBS" in sections:
            on_page = set()
            for tag in sections["JOBS"]:
                match = re.fullmatch(r"(\S+) \(mask (\d+)\)", tag)
                on_page.add(match.groups() if match else (tag, "?"))
            in_readme = job_rows(rows)
            if on_page != in_readme:
                fail(f"the jobs of {command}(1) {sorted(on_page)} are not the README's {sorted(in_readme)}")
        print(f"{command}: {checked} words of the README's tables are on its page, "
              f"{len(subcommands)} subcommands in both")
    if "quarvo-host" in commands and not readme_tables(args.readme, "quarvo-host"):
        fail("the README has no command table for quarvo-host")


def program_environment(workdir):
    env = dict(os.environ)
    env.update(QT_QPA_PLATFORM="offscreen", QUARVO_SETTINGS_DIR=os.path.join(workdir, "settings"),
               QUARVO_LOG_DIR=os.path.join(workdir, "logs"), XDG_RUNTIME_DIR=workdir, HOME=workdir)
    env["ASAN_OPTIONS"] = "detect_leaks=0:" + env.get("ASAN_OPTIONS", "")
    return env


def help_options(program, words, env, cwd):
    result = subprocess.run([program, *words, "--help"], capture_output=True, text=True, env=env, cwd=cwd,
                            timeout=120)
    if result.returncode != 0:
        fail(f"`{os.path.basename(program)} {' '.join(words)} --help` exits {result.returncode}")
    options = set(re.findall(r"^\s+(?:-\w,\s+)?(--[a-z][\w-]*)", result.stdout, re.M))
    return options, result.stdout


class Completer:
    """Runs a completion function the way bash does on TAB: COMP_WORDS and COMP_CWORD set, COMPREPLY read."""

    def __init__(self, script, function, cwd, env):
        self.script, self.function, self.cwd, self.env = os.path.abspath(script), function, cwd, env

    def __call__(self, words):
        driver = ('source "$1" || exit 2; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); '
                  f'{self.function}; printf "%s\\n" "${{COMPREPLY[@]}}"')
        result = subprocess.run(["bash", "--norc", "--noprofile", "-c", driver, "complete", self.script, *words],
                                capture_output=True, text=True, cwd=self.cwd, env=self.env, timeout=120)
        if result.returncode != 0:
            fail(f"completing {words}: exit {result.returncode}: {result.stderr}")
        return {line for line in result.stdout.splitlines() if line}


def check_completion(args):
    commands = read_commands(args.packaging_dir)
    with tempfile.TemporaryDirectory(prefix="quarvo-completion-") as workdir:
        env = program_environment(workdir)
        for name in ("site.json", "site.qpd"):
            open(os.path.join(workdir, name), "w", encoding="utf-8").close()
        os.mkdir(os.path.join(workdir, "sitedir"))
        for command in ("quarvo-host", "quarvo-fleet"):
            if command not in commands:
                continue
            program, _, subcommands = commands[command]
            script = os.path.join(args.completions, command)
            complete = Completer(script, "_" + command.replace("-", "_"), workdir, env)
            # The program as the user typed it: the fleet completion reads options from its --help.
            if not subcommands:
                fail(f"{command} has no subcommands in the build")
            offered = complete([program, ""])
            for sub in subcommands:
                if sub not in offered:
                    fail(f"`{command} <TAB>` does not offer {sub} (offers {sorted(offered)})")
            for sub in subcommands:
                wanted, _ = help_options(program, [sub], env, workdir)
                offered = complete([program, sub, "--"])
                missing = sorted(wanted - offered)
                if missing:
                    fail(f"`{command} {sub} --<TAB>` does not offer {missing}")
            print(f"{command}: {len(subcommands)} subcommands and their options offered")

        if "quarvo-host" in commands:
            program = commands["quarvo-host"][0]
            complete = Completer(os.path.join(args.completions, "quarvo-host"), "_quarvo_host", workdir, env)
            job_words = {word for word, _ in job_rows(readme_tables(args.readme, "quarvo-host"))}
            if len(job_words) < 7:
                fail(f"the README's job table for quarvo-host has {sorted(job_words)}")
            _, data_help = help_options(program, ["data"], env, workdir)
            data_words = set(re.search(r"(\w+(?:\|\w+)+)", data_help).group(1).split("|"))
            cases = [
                # (words typed, what must be offered, what must not)
                (["unattended", "--jobs", ""], job_words, set()),
                (["unattended", "--jobs", "clock,history-"], {"clock,history-current", "clock,history-all"},
                 {"history-current"}),
                # bash splits "--jobs=rec" into three words
                (["unattended", "--jobs", "=", "rec"], {"receive"}, set()),
                (["unattended", "--jobs", "=", "clock", "--"], {"--settings"}, set()),
                (["data", "--panel-type", "=", "3", "s"], {"show", "set"}, {"site.json"}),
                (["--out-of-process", "unattended", "--j"], {"--jobs"}, set()),
                (["--out-of-process", "--"], set(), {"--jobs", "--settings"}),
                (["--out-of-process", ""], {"session", "unattended"}, set()),
                (["data", ""], data_words, set()),
                (["data", "--panel-type", "3", "s"], {"show", "set"}, {"site.json"}),
                (["data", "show", "site.q"], {"site.qpd"}, set()),
                (["data", "show", "site.qpd", "s"], set(), {"site.json", "site.qpd"}),
                (["data", "diff", "site.qpd", "site.j"], {"site.json"}, set()),
                (["session", "--settings", "site.j"], {"site.json"}, set()),
                (["unattended", "--settings", "site.json", "--history", "site"], {"site.json", "site.qpd"}, set()),
                (["unattended", "--timeout", ""], set(), {"site.json", "--jobs"}),
                (["demo", "--build-dir", "site"], {"sitedir"}, {"site.json"}),
                (["nonsense", "--"], set(), {"--help"}),
            ]
            for typed, wanted, unwanted in cases:
                offered = complete([program, *typed])
                if not wanted <= offered or offered & unwanted:
                    fail(f"`quarvo-host {' '.join(typed)}<TAB>` offers {sorted(offered)}; "
                         f"wanted {sorted(wanted)}, not {sorted(unwanted)}")
            print(f"quarvo-host: {len(cases)} completions of values, files and command words")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("mode", choices=["man", "completion"])
    parser.add_argument("--readme", required=True)
    parser.add_argument("--packaging-dir", required=True, help="the build's packaging/ folder")
    parser.add_argument("--completions", help="the folder of the completion scripts")
    args = parser.parse_args()
    if args.mode == "man":
        check_man(args)
    else:
        check_completion(args)
    if failures:
        print(f"{len(failures)} problem(s)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
