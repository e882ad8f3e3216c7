"""A private headless LibreOffice for the template scripts.

Each run gets its own throw-away profile and pipe, so it never hands its work to an
office someone else already has open, and the process is always ended on exit.
Needs the system python3 with python3-uno.
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time
import uuid

import uno
from com.sun.star.beans import PropertyValue
from com.sun.star.connection import NoConnectException

SOFFICE = "/usr/lib/libreoffice/program/soffice.bin"


def props(**kw):
    out = []
    for k, v in kw.items():
        p = PropertyValue()
        p.Name = k
        p.Value = v
        out.append(p)
    return tuple(out)


def url(path):
    return uno.systemPathToFileUrl(os.path.abspath(path))


def _seed_profile(profile):
    # Without this an unused profile spends seconds on a graphics self-test each start.
    version = "7.4"
    try:
        out = subprocess.run([SOFFICE, "--version"], capture_output=True, text=True,
                             timeout=30).stdout
        parts = out.split()
        if len(parts) > 1:
            version = ".".join(parts[1].split(".")[:2])
    except (OSError, subprocess.SubprocessError):
        pass
    user = os.path.join(profile, "user")
    os.makedirs(user, exist_ok=True)
    with open(os.path.join(user, "registrymodifications.xcu"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<oor:items xmlns:oor="http://openoffice.org/2001/registry" '
                'xmlns:xs="http://www.w3.org/2001/XMLSchema" '
                'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">\n'
                '<item oor:path="/org.openoffice.Setup/Product">'
                '<prop oor:name="ooSetupLastVersion" oor:op="fuse">'
                f'<value>{version}</value></prop></item>\n'
                '</oor:items>\n')


class Office:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="veltrane-tpl-")
        self.pipe = "veltrane_tpl_" + uuid.uuid4().hex
        self.proc = None
        self.desktop = None

    def __enter__(self):
        _seed_profile(self.profile)
        for _attempt in range(2):
            self.proc = subprocess.Popen(
                [SOFFICE, "--headless", "--invisible", "--nologo", "--norestore",
                 "--nodefault", "--nolockcheck",
                 f"--accept=pipe,name={self.pipe};urp;",
                 "-env:UserInstallation=" + url(self.profile)],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
            ctx = self._connect()
            if ctx is not None:
                smgr = ctx.ServiceManager
                self.desktop = smgr.createInstanceWithContext(
                    "com.sun.star.frame.Desktop", ctx)
                return self
            # 81 means the first start of a profile finished its set-up: start again.
            if self.proc.poll() != 81:
                break
        self._kill()
        # __exit__ does not run when __enter__ fails: the profile goes here.
        shutil.rmtree(self.profile, ignore_errors=True)
        raise RuntimeError("could not start " + SOFFICE)

    def _connect(self):
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.time() + 60
        while time.time() < deadline:
            if self.proc.poll() is not None:
                return None
            try:
                return resolver.resolve(
                    f"uno:pipe,name={self.pipe};urp;StarOffice.ComponentContext")
            except NoConnectException:
                time.sleep(0.1)
        return None

    def load(self, path, **kw):
        args = dict(Hidden=True, MacroExecutionMode=0, UpdateDocMode=0)
        args.update(kw)
        doc = self.desktop.loadComponentFromURL(url(path), "_blank", 0, props(**args))
        if doc is None:
            raise RuntimeError("LibreOffice could not open " + path)
        return doc

    def _kill(self):
        if self.proc and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait()

    def __exit__(self, *exc):
        try:
            if self.desktop is not None:
                self.desktop.terminate()
        except Exception:
            pass
        if self.proc:
            try:
                self.proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                pass
        self._kill()
        shutil.rmtree(self.profile, ignore_errors=True)
        return False
