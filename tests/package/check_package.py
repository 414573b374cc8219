#!/usr/bin/env python3
"""Builds the Debian package from a build tree into a temporary folder (nothing is installed) and
checks it: the control fields, the complete file list with owners and modes, the files that name the
installed programs, and lintian (no error; warnings are printed)."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, check=False, **kwargs)


def read_commands(build_dir):
    commands = []
    with open(os.path.join(build_dir, "packaging", "commands.txt"), encoding="utf-8") as table:
        for line in table:
            if line.strip():
                commands.append(line.rstrip("\n").split("\t")[0])
    return commands


def expected_files(commands):
    """Every file the package must hold, path -> mode; anything else in it is a mistake."""
    files = {}
    for command in commands:
        files[f"/usr/bin/{command}"] = 0o755
        files[f"/usr/share/man/man1/{command}.1.gz"] = 0o644
    for command in ("quarvo-host", "quarvo-fleet"):
        if command in commands:
            files[f"/usr/share/bash-completion/completions/{command}"] = 0o644
    if "quarvo-server" in commands:
        files["/usr/share/dbus-1/services/com.norvane.Quarvo.service"] = 0o644
        files["/usr/share/dbus-1/interfaces/com.norvane.Quarvo.ZelComm.xml"] = 0o644
        files["/usr/share/dbus-1/interfaces/com.norvane.Quarvo.Host.xml"] = 0o644
        files["/usr/lib/systemd/user/quarvo-server.service"] = 0o644
    if "quarvo-fleet" in commands:
        files["/usr/share/doc/quarvo/examples/quarvo-fleet.service"] = 0o644
        files["/usr/share/doc/quarvo/examples/quarvo-fleet.timer"] = 0o644
    for doc in ("README.md", "changelog.gz", "copyright"):
        files[f"/usr/share/doc/quarvo/{doc}"] = 0o644
    return files


def check_contents(deb, commands):
    listing = run(["dpkg-deb", "--contents", deb])
    if listing.returncode != 0:
        fail("dpkg-deb --contents: " + listing.stderr)
        return
    found = {}
    for line in listing.stdout.splitlines():
        # -rwxr-xr-x root/root   123456 2026-12-07 16:00 ./usr/bin/quarvo-host
        fields = line.split(None, 5)
        perms, owner, path = fields[0], fields[1], fields[5]
        path = path.split(" -> ")[0].lstrip(".").rstrip("/")
        if owner != "root/root":
            fail(f"{path} belongs to {owner}, not root/root")
        if perms.startswith("d"):
            if perms != "drwxr-xr-x":
                fail(f"folder {path} has mode {perms}")
            continue
        if not perms.startswith("-"):
            fail(f"{path} is not a plain file ({perms})")
            continue
        mode = 0
        for bit, char in zip(range(8, -1, -1), perms[1:10]):
            if char != "-":
                mode |= 1 << bit
        found[path] = mode
    expected = expected_files(commands)
    for path, mode in sorted(expected.items()):
        if path not in found:
            fail(f"the package lacks {path}")
        elif found[path] != mode:
            fail(f"{path} has mode {found[path]:o}, not {mode:o}")
    for path in sorted(set(found) - set(expected)):
        fail(f"the package holds {path}, which it should not")


def check_control(deb, version, changelog):
    fields = {}
    for name in ("Package", "Version", "Architecture", "Maintainer", "Section", "Priority", "Depends",
                 "Recommends", "Description", "Installed-Size"):
        result = run(["dpkg-deb", "--field", deb, name])
        fields[name] = result.stdout.strip()
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    want = {"Package": "quarvo", "Version": version, "Architecture": arch, "Section": "comm",
            "Priority": "optional"}
    for name, value in want.items():
        if fields[name] != value:
            fail(f"control field {name} is {fields[name]!r}, not {value!r}")
    for name in ("Maintainer", "Description", "Installed-Size"):
        if not fields[name]:
            fail(f"control field {name} is missing")
    # Worked out by dpkg-shlibdeps from the programs: the libraries they link, with versions.
    depends = [d.strip() for d in fields["Depends"].split(",")]
    for library in ("libc6", "libqt6core6", "libqt6dbus6", "libqt6widgets6", "libqt6network6",
                    "libqt6serialport6", "libgcrypt20"):
        if not any(re.match(re.escape(library) + r"(t64)? \(>= [^)]+\)", d) for d in depends):
            fail(f"Depends lacks a versioned {library}: {fields['Depends']!r}")
    if "dbus-session-bus" not in fields["Recommends"]:
        fail(f"Recommends lacks a session bus: {fields['Recommends']!r}")
    with open(changelog, encoding="utf-8") as source:
        top = source.readline()
    match = re.match(r"quarvo \(([^)]+)\)", top)
    if not match or match.group(1) != version:
        fail(f"the changelog's newest entry is {top.strip()!r}: it must be version {version}")


def check_installed_paths(deb, workdir, commands):
    """The files that start programs name them where the package puts them."""
    root = os.path.join(workdir, "root")
    result = run(["dpkg-deb", "--extract", deb, root])
    if result.returncode != 0:
        fail("dpkg-deb --extract: " + result.stderr)
        return

    def read(path):
        with open(root + path, encoding="utf-8") as source:
            return source.read()

    def lines(path):
        return {line.strip() for line in read(path).splitlines()}

    if "quarvo-server" in commands:
        service = lines("/usr/share/dbus-1/services/com.norvane.Quarvo.service")
        for line in ("[D-BUS Service]", "Name=com.norvane.Quarvo", "Exec=/usr/bin/quarvo-server",
                     "SystemdService=quarvo-server.service"):
            if line not in service:
                fail(f"the D-Bus service file lacks {line!r}")
        unit = lines("/usr/lib/systemd/user/quarvo-server.service")
        for line in ("Type=dbus", "BusName=com.norvane.Quarvo", "ExecStart=/usr/bin/quarvo-server"):
            if line not in unit:
                fail(f"quarvo-server.service lacks {line!r}")
        if any(line.startswith("[Install]") for line in unit):
            fail("quarvo-server.service has an [Install] section: the bus starts it, nothing enables it")
    if "quarvo-fleet" in commands:
        unit = lines("/usr/share/doc/quarvo/examples/quarvo-fleet.service")
        if "ExecStart=/usr/bin/quarvo-fleet run --due" not in unit:
            fail("quarvo-fleet.service does not run /usr/bin/quarvo-fleet run --due")
        timer = lines("/usr/share/doc/quarvo/examples/quarvo-fleet.timer")
        if not any(line.startswith("OnCalendar=") for line in timer):
            fail("quarvo-fleet.timer has no OnCalendar=")
    verify_units(root, workdir, commands)
    for command in commands:
        # Installed programs are stripped: the package carries no debugging sections.
        sections = run(["readelf", "-S", "-W", root + "/usr/bin/" + command]).stdout
        if ".debug_info" in sections or ".symtab" in sections:
            fail(f"/usr/bin/{command} is not stripped")


def verify_units(root, workdir, commands):
    """systemd's own check of the units, with the programs they start taken from the package."""
    if not shutil.which("systemd-analyze"):
        print("note: no systemd-analyze here; the units are not verified")
        return
    units = []
    if "quarvo-server" in commands:
        units.append("/usr/lib/systemd/user/quarvo-server.service")
    if "quarvo-fleet" in commands:
        units += ["/usr/share/doc/quarvo/examples/quarvo-fleet.service",
                  "/usr/share/doc/quarvo/examples/quarvo-fleet.timer"]
    folder = os.path.join(workdir, "units")
    runtime = os.path.join(workdir, "runtime")
    os.makedirs(folder)
    os.makedirs(runtime, mode=0o700)
    copies = []
    for unit in units:
        with open(root + unit, encoding="utf-8") as source:
            text = source.read().replace("=/usr/bin/", "=" + root + "/usr/bin/")
        copy = os.path.join(folder, os.path.basename(unit))
        with open(copy, "w", encoding="utf-8") as out:
            out.write(text)
        copies.append(copy)
    if not copies:
        return
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    result = run(["systemd-analyze", "--user", "--man=no", "verify", *copies], env=env, timeout=120)
    # It warns of a key it does not know or a value it cannot parse, and goes on: any word is a fault.
    if result.returncode != 0 or (result.stdout + result.stderr).strip():
        fail(f"systemd-analyze verify: {result.stdout}{result.stderr}")


def check_lintian(deb):
    result = run(["lintian", "--tag-display-limit", "0", deb], timeout=600)
    tags = [line for line in result.stdout.splitlines() if re.match(r"[EWIXPNO]: ", line)]
    for line in tags:
        print("lintian: " + line)
    errors = [line for line in tags if line.startswith("E: ")]
    if errors:
        fail(f"lintian reports {len(errors)} error(s)")
    elif result.returncode != 0:
        fail(f"lintian failed (exit {result.returncode}): {result.stderr}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--changelog", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the package folder and print its name")
    args = parser.parse_args()

    commands = read_commands(args.build_dir)
    for command in ("quarvo-server", "quarvo-host"):
        if command not in commands:
            fail(f"the build has no {command}")
    workdir = tempfile.mkdtemp(prefix="quarvo-package-")
    try:
        cpack = run(["cpack", "--config", os.path.join(args.build_dir, "CPackConfig.cmake"), "-B", workdir],
                    timeout=600)
        debs = [name for name in os.listdir(workdir) if name.endswith(".deb")]
        if cpack.returncode != 0 or len(debs) != 1:
            fail(f"cpack made {debs} (exit {cpack.returncode}):\n{cpack.stdout}\n{cpack.stderr}")
            return 1
        deb = os.path.join(workdir, debs[0])
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        if debs[0] != f"quarvo_{args.version}_{arch}.deb":
            fail(f"the package is named {debs[0]}")
        check_control(deb, args.version, args.changelog)
        check_contents(deb, commands)
        check_installed_paths(deb, workdir, commands)
        check_lintian(deb)
    finally:
        if args.keep:
            print("package folder: " + workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    if failures:
        print(f"{len(failures)} problem(s)")
        return 1
    print("package OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
