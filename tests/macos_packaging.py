#!/usr/bin/env python3
"""The macOS packaging checked without a Mac; see the README's "Install on macOS".
macos_packaging.py GENERATED SOURCE plists|scripts|install"""
import json
import os
import plistlib
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

GENERATED, SOURCE, CASE = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3]
STANDIN = Path(__file__).with_name("macos_tool_standin.sh")
LAYOUT = json.loads((GENERATED / "layout.json").read_text())
DAEMON_PLIST = LAYOUT["daemonLabel"] + ".plist"
DAEMON = "Contents/MacOS/TarvexVpnService"
DOMAIN = ".".join(reversed(LAYOUT["vendorDomain"].split("."))) + "."
failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
        print("FAIL:", message)


# What launchd and macOS need of each file, and what ties the files to each other and to
# the install layout; a closed file may hold nothing else.
LAUNCHD = {
    "Label": lambda v: v + ".plist" == DAEMON_PLIST and v.startswith(DOMAIN),
    "AssociatedBundleIdentifiers": lambda v: LAYOUT["bundleId"] in v,
    "RunAtLoad": lambda v: v is True,
    "KeepAlive": lambda v: v is True,
    "ExitTimeOut": lambda v: type(v) is int and v >= 30,
}
PLISTS = [  # file, closed, {key: predicate}
    (GENERATED / "Info.plist", False, {
        "CFBundleIdentifier": lambda v: v == LAYOUT["bundleId"] and v.startswith(DOMAIN),
        "CFBundleExecutable": lambda v: "Contents/MacOS/" + v in LAYOUT["bundlePrograms"],
        "CFBundleVersion": lambda v: v == LAYOUT["version"]}),
    (GENERATED / "bundle" / DAEMON_PLIST, False,
     dict(LAUNCHD, BundleProgram=lambda v: v == DAEMON and v in LAYOUT["bundlePrograms"])),
    (GENERATED / "system" / DAEMON_PLIST, False,
     dict(LAUNCHD, ProgramArguments=lambda v: v == [LAYOUT["appPath"] + "/" + DAEMON])),
    (GENERATED / "component.plist", False, {
        "RootRelativeBundlePath": lambda v: v == LAYOUT["appPath"].lstrip("/"),
        "BundleIsRelocatable": lambda v: v is False}),
    (SOURCE / "tarvex-client.entitlements", True,
     {"com.apple.security.cs.allow-jit": lambda v: v is True}),
    (SOURCE / "TarvexVpnService.entitlements", True, {}),
]


def case_plists():
    for path, closed, expected in PLISTS:
        try:
            data = plistlib.loads(path.read_bytes())
        except Exception as error:  # any parse failure is the finding
            check(False, f"{path} does not parse: {error}")
            continue
        if isinstance(data, list):  # pkgbuild's component list: the one bundle
            data = data[0] if len(data) == 1 else {}
        for key, ok in expected.items():
            check(key in data and ok(data[key]), f"{path.name}: {key} = {data.get(key)!r}")
        # Closed: no get-task-allow or any other entitlement slipped in.
        check(not closed or set(data) == set(expected), f"{path.name}: holds {sorted(data)}")


def case_scripts():
    scripts = [GENERATED / "scripts" / name for name in ("tarvex-launchd", "preinstall",
                                                         "postinstall")]
    scripts += [GENERATED / "make-pkg.sh", SOURCE / "sign-and-notarize.sh", STANDIN]
    result = subprocess.run(["shellcheck", *map(str, scripts)], capture_output=True, text=True)
    check(result.returncode == 0, "shellcheck:\n" + result.stdout + result.stderr)


def case_install():
    """The package installed, updated and uninstalled as Installer and a person would, on
    a folder laid out like a Mac's startup volume with other software on it, with the
    stand-in tools on PATH logging their calls."""
    scratch = tempfile.TemporaryDirectory()
    work = Path(scratch.name)
    root, state, log, package = work / "mac", work / "state", work / "calls", work / "Tarvex.pkg"
    for folder in ("bin", "state", "mac/private/tmp", "mac/var/db/receipts"):
        (work / folder).mkdir(parents=True)
    (root / "tmp").symlink_to("private/tmp")
    for tool in ("launchctl", "pkgutil", "pkgbuild"):
        (work / "bin" / tool).symlink_to(STANDIN)
    log.touch()
    env = dict(os.environ, PATH=f"{work / 'bin'}:{os.environ['PATH']}", TARVEX_ROOT=str(root),
               STUB_LOG=str(log), STUB_STATE=str(state))

    def write(*paths):
        for path in paths:
            (root / path.lstrip("/")).parent.mkdir(parents=True, exist_ok=True)
            (root / path.lstrip("/")).write_text("other")

    def run(*command):
        return subprocess.run(list(map(str, command)), env=env, capture_output=True, text=True)

    def calls():
        return [line.split("\t") for line in log.read_text().splitlines()]

    def tree():
        return {str(path.relative_to(root)) for path in root.rglob("*")}

    write("Applications/Other.app/Contents/Info.plist", "private/tmp/other.sock",
          "Library/LaunchDaemons/org.other.plist", "Library/Application Support/O/s")
    app = work / "stage" / LAYOUT["bundle"]  # dummy Mach-O programs, as installed
    for program in LAYOUT["bundlePrograms"]:
        (app / program).parent.mkdir(parents=True, exist_ok=True)
        (app / program).write_bytes(bytes.fromhex("cffaedfe") + bytes(60))
    (app / "Contents/Resources").mkdir()
    shutil.copy(GENERATED / "scripts/tarvex-launchd", app / "Contents/Resources")
    made = run(GENERATED / "make-pkg.sh", app, package)
    if made.returncode != 0:
        return check(False, f"make-pkg.sh: {made.stderr}")
    payload, scripts = Path(f"{package}.root"), Path(f"{package}.scripts")
    service, before = "system/" + LAYOUT["daemonLabel"], tree()

    def install():
        """The calls of preinstall, of postinstall, and how postinstall ended."""
        start = len(calls())
        run(scripts / "preinstall", package, "/", "/", "/")
        middle = len(calls())
        shutil.copytree(payload, root, dirs_exist_ok=True)
        write(f"/var/db/receipts/{LAYOUT['packageId']}.plist")
        post = run(scripts / "postinstall", package, "/", "/", "/")
        return calls()[start:middle], calls()[middle:], post

    _, started, _ = install()
    # The daemon runs, and was connected when its process died: it left a journal.
    write(LAYOUT["socket"], LAYOUT["runtimeDir"] + "/amn0.name", LAYOUT["stateDir"] + "/journal")
    stopped, _, _ = install()  # an update
    installed, start = tree(), len(calls())
    run(root / LAYOUT["appPath"][1:] / "Contents/Resources/tarvex-launchd", "uninstall")
    uninstall, after = calls()[start:], tree()
    (state / "refuse-bootstrap").touch()
    _, _, refused = install()
    for ok, message in [
        (started[-1:] == [["launchctl", "bootstrap", "system",
                           str(root / "Library/LaunchDaemons" / DAEMON_PLIST)]],
         f"the install did not start the daemon: {started}"),
        (["launchctl", "bootout", service] in stopped,
         f"the update did not stop the old daemon before replacing it: {stopped}"),
        (LAYOUT["stateDir"][1:] + "/journal" in installed, "the update lost the recovery journal"),
        (uninstall[:2] == [["launchctl", "print", service], ["launchctl", "bootout", service]],
         f"the uninstall did not stop the daemon first: {uninstall}"),
        (set((state / "tree-at-bootout").read_text().splitlines())
         == {"./" + path for path in installed},
         "the uninstall removed files before the daemon had stopped"),
        (after == before, f"the uninstall left or removed: {sorted(after ^ before)}"),
        (refused.returncode != 0 and "could not start" in refused.stderr,
         f"an install whose daemon launchd refuses: {refused.returncode}, {refused.stderr!r}"),
    ]:
        check(ok, message)


globals()["case_" + CASE]()
print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
sys.exit(1 if failures else 0)
