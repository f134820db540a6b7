#!/usr/bin/env python3
"""The macOS packaging checked without a Mac; see the README's "Install on macOS".
macos_packaging.py GENERATED SOURCE plists|scripts|install|signing"""
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
REVERSE_DOMAIN = ".".join(reversed(LAYOUT["vendorDomain"].split(".")))
failures = []


def fail(message):
    failures.append(message)
    print("FAIL:", message)


def matches(value, expected):
    """A type, a predicate, or the value itself of the same type (true is no 1)."""
    if isinstance(expected, type):
        return type(value) is expected
    if callable(expected):
        return expected(value)
    return type(value) is type(expected) and value == expected


LAUNCHD = {
    "Label": lambda v: v + ".plist" == DAEMON_PLIST and v.startswith(REVERSE_DOMAIN + "."),
    "AssociatedBundleIdentifiers": lambda v: LAYOUT["bundleId"] in v,
    "RunAtLoad": True,
    "KeepAlive": True,
    "ExitTimeOut": lambda v: type(v) is int and v >= 30,
}
# Each file, whether it may hold other keys, and the keys it must hold.
PLISTS = [
    (GENERATED / "Info.plist", True, {
        "CFBundleIdentifier": lambda v: v == LAYOUT["bundleId"]
        and v.startswith(REVERSE_DOMAIN + "."),
        "CFBundleExecutable": lambda v: "Contents/MacOS/" + v in LAYOUT["bundlePrograms"],
        "CFBundlePackageType": "APPL",
        "CFBundleShortVersionString": LAYOUT["version"],
        "CFBundleVersion": LAYOUT["version"],
        "LSMinimumSystemVersion": "13.0",
        "CFBundleName": str,
    }),
    (GENERATED / "bundle" / DAEMON_PLIST, True, dict(LAUNCHD, BundleProgram=lambda v: v == DAEMON
                                                      and v in LAYOUT["bundlePrograms"])),
    (GENERATED / "system" / DAEMON_PLIST, True,
     dict(LAUNCHD, ProgramArguments=[LAYOUT["appPath"] + "/" + DAEMON])),
    (GENERATED / "component.plist", True, {
        "RootRelativeBundlePath": LAYOUT["appPath"].lstrip("/"),
        "BundleIsRelocatable": False,
    }),
    (SOURCE / "tarvex-client.entitlements", False, {"com.apple.security.cs.allow-jit": True}),
    (SOURCE / "TarvexVpnService.entitlements", False, {}),
]


def case_plists():
    for path, open_ended, expected in PLISTS:
        try:
            data = plistlib.loads(path.read_bytes())
        except Exception as error:  # any parse failure is the finding
            fail(f"{path} does not parse: {error}")
            continue
        if isinstance(data, list):  # pkgbuild's component list: the one bundle
            data = data[0] if len(data) == 1 else {}
        for key, want in expected.items():
            if not matches(data.get(key), want):
                fail(f"{path.name}: {key} = {data.get(key)!r}")
        if not open_ended and set(data) != set(expected):
            fail(f"{path.name}: unexpected {sorted(set(data) - set(expected))}")
        if any("get-task-allow" in key for key in data):
            fail(f"{path.name}: get-task-allow lets anyone attach a debugger")


def case_scripts():
    scripts = [GENERATED / "scripts" / name for name in ("tarvex-launchd", "preinstall",
                                                         "postinstall")]
    scripts += [GENERATED / "make-pkg.sh", SOURCE / "sign-and-notarize.sh", STANDIN]
    result = subprocess.run(["shellcheck", *map(str, scripts)], capture_output=True, text=True)
    if result.returncode != 0:
        fail("shellcheck:\n" + result.stdout + result.stderr)


class ScratchMac:
    """A folder laid out like a Mac's startup volume with other software on it, the
    stand-in tools on PATH, and their log of calls."""

    def __init__(self, work):
        self.work, self.root, self.state = work, work / "mac", work / "state"
        self.log = work / "calls"
        for folder in ("bin", "state", "mac/private/tmp", "mac/var/db/receipts"):
            (work / folder).mkdir(parents=True)
        (self.root / "tmp").symlink_to("private/tmp")
        for path in ("Applications/Other.app/Contents/Info.plist", "private/tmp/other.sock",
                     "Library/LaunchDaemons/org.other.plist", "Library/Application Support/O/s"):
            self.write(path, "other")
        for tool in ("launchctl", "pkgutil", "pkgbuild", "codesign"):
            (work / "bin" / tool).symlink_to(STANDIN)
        self.log.touch()
        self.env = dict(os.environ, PATH=f"{work / 'bin'}:{os.environ['PATH']}",
                        TARVEX_ROOT=str(self.root), STUB_LOG=str(self.log),
                        STUB_STATE=str(self.state))

    def write(self, path, text):
        target = self.root / path.lstrip("/")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(text)

    def run(self, *command, env=None, must=True):
        result = subprocess.run([str(part) for part in command], env=env or self.env,
                                capture_output=True, text=True)
        if must and result.returncode != 0:
            fail(f"{command[0]} exited with {result.returncode}: {result.stderr}")
        return result

    def calls(self):
        return [line.split("\t") for line in self.log.read_text().splitlines()]

    def tree(self):
        return {str(path.relative_to(self.root)) for path in self.root.rglob("*")}


def fake_bundle(folder):
    """The programs where the install rules put them on a Mac (dummy Mach-O files)."""
    app = folder / LAYOUT["bundle"]
    for program in LAYOUT["bundlePrograms"]:
        (app / program).parent.mkdir(parents=True, exist_ok=True)
        (app / program).write_bytes(bytes.fromhex("cffaedfe") + bytes(60))
        (app / program).chmod(0o755)
    (app / "Contents/Resources").mkdir()
    shutil.copy(GENERATED / "scripts/tarvex-launchd", app / "Contents/Resources")
    return app


def case_install(mac):
    package = mac.work / "Tarvex.pkg"
    mac.run(GENERATED / "make-pkg.sh", fake_bundle(mac.work / "stage"), package)
    payload, scripts = Path(f"{package}.root"), Path(f"{package}.scripts")
    service = "system/" + LAYOUT["daemonLabel"]
    before = mac.tree()

    def install():
        """As Installer does it; gives the calls of preinstall and of postinstall."""
        start = len(mac.calls())
        mac.run(scripts / "preinstall", package, "/", "/", "/")
        payload_start = len(mac.calls())
        shutil.copytree(payload, mac.root, dirs_exist_ok=True)
        mac.write(f"/var/db/receipts/{LAYOUT['packageId']}.plist", "receipt")
        mac.run(scripts / "postinstall", package, "/", "/", "/")
        return mac.calls()[start:payload_start], mac.calls()[payload_start:]

    _, started = install()
    if started[-1:] != [["launchctl", "bootstrap", "system",
                         str(mac.root / "Library/LaunchDaemons" / DAEMON_PLIST)]]:
        fail(f"the daemon was not started: {started}")
    # The daemon runs, and was connected when its process died: it left a journal.
    for path in (LAYOUT["socket"], LAYOUT["runtimeDir"] + "/amn0.name",
                 LAYOUT["stateDir"] + "/journal"):
        mac.write(path, "left by the daemon")

    stopped, _ = install()  # an update
    if ["launchctl", "bootout", service] not in stopped:
        fail(f"the old daemon was not stopped before its files were replaced: {stopped}")
    if not (mac.root / LAYOUT["stateDir"][1:] / "journal").is_file():
        fail("the update lost the recovery journal")

    installed, start = mac.tree(), len(mac.calls())
    mac.run(mac.root / LAYOUT["appPath"][1:] / "Contents/Resources/tarvex-launchd", "uninstall")
    if mac.calls()[start:start + 2] != [["launchctl", "print", service],
                                        ["launchctl", "bootout", service]]:
        fail(f"the uninstall did not stop the daemon first: {mac.calls()[start:]}")
    if set((mac.state / "tree-at-bootout").read_text().splitlines()) != \
            {"./" + path for path in installed}:
        fail("the uninstall removed files before the daemon had stopped")
    if mac.tree() != before:
        fail(f"left behind or removed: {sorted(mac.tree() ^ before)}")

    # An install whose daemon launchd refuses fails.
    shutil.copytree(payload, mac.root, dirs_exist_ok=True)
    (mac.state / "refuse-bootstrap").touch()
    result = mac.run(scripts / "postinstall", must=False)
    if result.returncode == 0 or "could not start" not in result.stderr:
        fail(f"postinstall: exit {result.returncode}, {result.stderr!r}")


def case_signing(mac):
    app = fake_bundle(mac.work)
    frameworks = "Contents/Frameworks/QtCore.framework"
    inner = frameworks + "/Versions/A/Frameworks/Inner.framework"
    for path in (frameworks + "/Versions/A/QtCore", inner + "/Versions/A/Inner",
                 "Contents/PlugIns/platforms/libqcocoa.dylib", "Contents/Resources/qml/x.dylib"):
        (app / path).parent.mkdir(parents=True, exist_ok=True)
        (app / path).write_bytes(bytes.fromhex("cafebabe") + bytes(60))
    script, identity = SOURCE / "sign-and-notarize.sh", "Developer ID Application: T (TEAM)"
    no_codesign = dict(mac.env, PATH="/usr/bin:/bin", TARVEX_SIGN_IDENTITY=identity)
    for command, env, message in [(["sign", app], mac.env, "TARVEX_SIGN_IDENTITY is not set"),
                                  (["notarize", app], mac.env, "TARVEX_NOTARY_PROFILE is not set"),
                                  (["sign", app], no_codesign, "codesign not found")]:
        result = mac.run(script, *command, env=env, must=False)
        if result.returncode == 0 or message not in result.stderr or mac.calls():
            fail(f"{command}: exit {result.returncode}, {result.stderr!r}, ran {mac.calls()}")

    mac.run(script, "sign", app, env=dict(mac.env, TARVEX_SIGN_IDENTITY=identity))
    *signing, verify = mac.calls()
    signed = [str(Path(call[-1]).relative_to(app)) for call in signing]
    # Whatever lies inside a signed bundle is signed before it, the application last.
    if sorted(signed) != sorted([DAEMON, "Contents/MacOS/amneziawg-go", frameworks, inner,
                                 "Contents/PlugIns/platforms/libqcocoa.dylib",
                                 "Contents/Resources/qml/x.dylib", "."]) or \
            signed.index(inner) > signed.index(frameworks) or signed[-1] != ".":
        fail(f"signed in this order: {signed}")
    entitlements = {path: Path(call[8]).name for path, call in zip(signed, signing)
                    if call[7:8] == ["--entitlements"]}
    if [call[1:7] for call in signing] != [["--force", "--options", "runtime", "--timestamp",
                                            "--sign", identity]] * len(signing) or \
            entitlements != {DAEMON: "TarvexVpnService.entitlements",
                             "Contents/MacOS/amneziawg-go": "TarvexVpnService.entitlements",
                             ".": "tarvex-client.entitlements"}:
        fail(f"not hardened, timestamped, signed as {identity} with its entitlements: {signing}")
    if verify != ["codesign", "--verify", "--strict", "--deep", str(app)]:
        fail(f"the signature was not verified: {verify}")


if CASE in ("install", "signing"):
    with tempfile.TemporaryDirectory() as scratch:
        globals()["case_" + CASE](ScratchMac(Path(scratch)))
else:
    globals()["case_" + CASE]()
print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
sys.exit(1 if failures else 0)
