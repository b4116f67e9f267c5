#!/usr/bin/env python3
"""The updater's hold on the computer's sleep, against a real session bus.

A private dbus-daemon stands for the desktop's session bus, and a stand-in (this file, run with
--serve) for the desktop's inhibit service: the portal's Inhibit interface, or the older
power-management one. keep_awake_probe takes the hold that a run takes and releases it as a run
ends. Checked: the portal is asked first (suspend and idle, with the reason) and its request is
closed at release; without the portal the power-management cookie is taken and given back;
without either service, or without a bus at all, the probe neither hangs nor fails; a portal that
answers only after 5 s does not hold the probe up; a bus that goes away during a hold costs the
hold, not the program.

usage: keep_awake_test.py PROBE
"""
import os
import subprocess
import sys
import tempfile
import time

PORTAL = ("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", """
<node><interface name="org.freedesktop.portal.Inhibit">
  <method name="Inhibit"><arg type="s" direction="in"/><arg type="u" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
</interface></node>""")
REQUEST = """<node><interface name="org.freedesktop.portal.Request"><method name="Close"/></interface></node>"""
POWER = ("org.freedesktop.PowerManagement", "/org/freedesktop/PowerManagement/Inhibit", """
<node><interface name="org.freedesktop.PowerManagement.Inhibit">
  <method name="Inhibit"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="u" direction="out"/></method>
  <method name="UnInhibit"><arg type="u" direction="in"/></method>
</interface></node>""")


def serve(address, kind):
    """The stand-in: owns the service's name, answers as the real one does, prints each call."""
    from gi.repository import Gio, GLib
    bus = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)
    name, path, xml = POWER if kind == "power-management" else PORTAL

    def tell(line):
        print(line, flush=True)

    def close_request(_bus, _sender, request_path, _iface, method, _args, invocation):
        tell(f"{method} {request_path}")
        invocation.return_value(None)

    def on_call(_bus, sender, _path, _iface, method, args, invocation):
        if method == "Inhibit" and kind == "slow-portal":
            tell("Inhibit (answered in 5 s)")
            GLib.timeout_add(5000, lambda: invocation.return_value(GLib.Variant("(o)", ("/slow",))) and False)
        elif method == "Inhibit" and kind == "portal":
            window, flags, options = args.unpack()
            request = "/org/freedesktop/portal/desktop/request/" + sender[1:].replace(".", "_") + "/t1"
            bus.register_object(request, Gio.DBusNodeInfo.new_for_xml(REQUEST).interfaces[0], close_request)
            tell(f"Inhibit window='{window}' flags={flags} reason='{options.get('reason')}'")
            invocation.return_value(GLib.Variant("(o)", (request,)))
        elif method == "Inhibit":
            application, reason = args.unpack()
            tell(f"Inhibit application='{application}' reason='{reason}'")
            invocation.return_value(GLib.Variant("(u)", (7,)))
        else:
            tell(f"{method} {args.unpack()[0]}")
            invocation.return_value(None)

    bus.register_object(path, Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0], on_call)
    reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                          GLib.Variant("(su)", (name, 4)), None, Gio.DBusCallFlags.NONE, 5000, None)
    assert reply.unpack()[0] == 1, "the stand-in could not own its name"
    tell("ready")
    GLib.MainLoop().run()


failures = []


def check(what, condition):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def run_probe(probe, address, reason):
    """Takes the hold, then releases it; the probe's output and exit code."""
    env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address)
    env.pop("XDG_RUNTIME_DIR", None)
    result = subprocess.run([probe, reason], input="\n", env=env, capture_output=True, text=True, timeout=30)
    return result.stdout.split(), result.stderr, result.returncode


def with_bus(probe, kind, reason):
    """One probe run on a private bus with the given stand-in (or none): what the stand-in heard."""
    with tempfile.TemporaryDirectory() as folder:
        daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                                   f"--address=unix:dir={folder}"], stdout=subprocess.PIPE, text=True)
        address = daemon.stdout.readline().strip()
        standin = None
        try:
            if kind is not None:
                standin = subprocess.Popen([sys.executable, __file__, "--serve", address, kind],
                                           stdout=subprocess.PIPE, text=True)
                check(f"{kind}: the stand-in is on the bus", standin.stdout.readline().strip() == "ready")
            said, errors, code = run_probe(probe, address, reason)
            check(f"{kind}: the probe held, released and ended with 0 ({said}, {code}, {errors.strip()})",
                  said == ["held", "released"] and code == 0)
            heard = []
            if standin is not None:
                standin.terminate()
                heard = [line.strip() for line in standin.stdout if line.strip()]
            return heard, errors
        finally:
            if standin is not None and standin.poll() is None:
                standin.kill()
            daemon.terminate()
            daemon.wait()


def held_beside(probe, kind, reason, while_held):
    """A probe on a private bus with the stand-in, held until while_held(daemon, standin) returns:
    how long the probe took to say it held, what it said, its exit code."""
    with tempfile.TemporaryDirectory() as folder:
        daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                                   f"--address=unix:dir={folder}"], stdout=subprocess.PIPE, text=True)
        address = daemon.stdout.readline().strip()
        standin = subprocess.Popen([sys.executable, __file__, "--serve", address, kind],
                                   stdout=subprocess.PIPE, text=True)
        try:
            check(f"{kind}: the stand-in is on the bus", standin.stdout.readline().strip() == "ready")
            env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address)
            env.pop("XDG_RUNTIME_DIR", None)
            started = time.monotonic()
            program = subprocess.Popen([probe, reason], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                                       text=True)
            said = [program.stdout.readline().strip()]
            took = time.monotonic() - started
            while_held(daemon, standin)
            said += program.communicate("\n", timeout=30)[0].split()
            return took, said, program.returncode
        finally:
            for process in (standin, daemon):
                if process.poll() is None:
                    process.kill()
                process.wait()


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--serve":
        return serve(sys.argv[2], sys.argv[3])
    probe = sys.argv[1]
    reason = "Updating the unit"

    heard, _ = with_bus(probe, "portal", reason)
    check(f"portal: one inhibit of suspend (4) and idle (8) with the reason, then its request closed: {heard}",
          len(heard) == 2 and heard[0] == f"Inhibit window='' flags=12 reason='{reason}'"
          and heard[1].startswith("Close /org/freedesktop/portal/desktop/request/"))

    heard, _ = with_bus(probe, "power-management", reason)
    check(f"power management: the cookie taken and given back: {heard}",
          heard == [f"Inhibit application='Zelvor Updater' reason='{reason}'", "UnInhibit 7"])

    _, errors = with_bus(probe, None, reason)
    check("no inhibit service: both asked, each refusal said in one line",
          "portal.Inhibit.Inhibit" in errors and "PowerManagement.Inhibit.Inhibit" in errors)

    said, _, code = run_probe(probe, "unix:path=/nonexistent/zelvor-bus", reason)
    check(f"no bus at all: no hang, no failure ({said}, {code})", said == ["held", "released"] and code == 0)

    took, said, code = held_beside(probe, "slow-portal", reason, lambda daemon, standin: standin.stdout.readline())
    check(f"a portal that answers in 5 s: held at once ({took:.1f} s), released, 0 ({said}, {code})",
          took < 1.0 and said == ["held", "released"] and code == 0)

    def bus_goes(daemon, standin):
        standin.stdout.readline()  # the hold reached the desktop
        daemon.kill()
        daemon.wait()
        time.sleep(1)  # GLib notices the closed connection on its own thread

    _, said, code = held_beside(probe, "portal", reason, bus_goes)
    check(f"the bus gone during the hold: the probe still releases and ends with 0 ({said}, {code})",
          said == ["held", "released"] and code == 0)

    print("FAILED" if failures else "PASS")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
