#!/usr/bin/python3
"""The plug-in inside a real OBS Studio, driven through obs-websocket.

Runs inside a display (xvfb-run) and a loopback-only network namespace that
run.sh sets up, with an OBS configuration already prepared in
XDG_CONFIG_HOME. Starts the reference phone sender and OBS, then checks what a
user would see: the module loads, its source kind exists, a source shows the
sender's picture and moves the audio meters, camera controls reach the phone,
removing the source keeps OBS responsive and closes the connection, and OBS
exits cleanly without leaks.

Prints one "ok: ..." line per check; on the first failure prints "FAIL: ...",
the tail of OBS's log and the sender's output, and exits with status 1.
"""

import argparse
import base64
import json
import os
import signal
import subprocess
import sys
import threading
import time

import websocket

from log_texts import LOGTEXT_DECODER_READY, LOGTEXT_PLUGIN_LOADED, LOGTEXT_PREFIX
from obs_socket import (
    EVENT_INPUT_VOLUME_METERS,
    REQUEST_PROCESSING_FAILED,
    ObsSocket,
    RequestFailed,
    SocketError,
    until_ready,
)
from picture import BLUE, RED, bottom_half_difference, close_to, parse_bmp, pattern_problems

WEBSOCKET_URL = "ws://127.0.0.1:4455"
# How long OBS may answer "not ready" once its websocket server is up.
READY_SECONDS = 60
# How long the screen may take to show OBS's preview with the picture.
SCREEN_SECONDS = 30
# The profile and scene collection run.sh prepares, and the profile's canvas.
CONFIGURATION_NAME = "Ostrelin"
CANVAS = (1280, 720)
SOURCE_KIND = "ostrelin_source"
SOURCE_NAME = "Ostrelin"
LOAD_LINE = LOGTEXT_PREFIX + LOGTEXT_PLUGIN_LOADED
# The sender's --codec, and the libavcodec decoder the plug-in must name for it.
DECODER_OF_CODEC = {"h264": "h264", "h265": "hevc"}
LEAK_LINE = "Number of memory leaks: 0"
STOP_SIGNALS = (signal.SIGTERM, signal.SIGHUP, signal.SIGINT)


class Failure(Exception):
    pass


def ok(text):
    print(f"ok: {text}", flush=True)


def deadline_loop(seconds, pause=0.1):
    """Yields until `seconds` have passed, sleeping `pause` between turns."""
    end = time.monotonic() + seconds
    while True:
        yield
        if time.monotonic() >= end:
            return
        time.sleep(pause)


# ---------------------------------------------------------------- processes


class LineReader:
    """Collects the lines a child process prints, in a thread of its own."""

    def __init__(self, pipe, copy_path):
        self.lines = []
        self.cond = threading.Condition()
        self.copy = open(copy_path, "w", encoding="utf-8")
        self.thread = threading.Thread(target=self._run, args=(pipe,), daemon=True)
        self.thread.start()

    def _run(self, pipe):
        for raw in pipe:
            line = raw.rstrip("\n")
            self.copy.write(raw)
            self.copy.flush()
            with self.cond:
                self.lines.append(line)
                self.cond.notify_all()

    def wait_for(self, predicate, seconds, start=0):
        """Index of the first line from `start` on that satisfies predicate,
        or None once `seconds` have passed."""
        end = time.monotonic() + seconds
        with self.cond:
            while True:
                for index in range(start, len(self.lines)):
                    if predicate(self.lines[index]):
                        return index
                left = end - time.monotonic()
                if left <= 0:
                    return None
                self.cond.wait(left)

    def count(self):
        with self.cond:
            return len(self.lines)

    def snapshot(self):
        with self.cond:
            return list(self.lines)


def stop_process(proc, first_signal, seconds):
    """Sends first_signal, waits, then kills; returns the exit status."""
    if proc is None:
        return None
    if proc.poll() is None:
        proc.send_signal(first_signal)
        try:
            proc.wait(seconds)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return proc.returncode


# ---------------------------------------------------------------- OBS


def connect_websocket(obs, seconds):
    last_error = None
    for _ in deadline_loop(seconds, 0.25):
        if obs.poll() is not None:
            raise Failure(f"OBS exited with status {obs.returncode} before its websocket server answered")
        try:
            return ObsSocket(WEBSOCKET_URL, EVENT_INPUT_VOLUME_METERS)
        except (OSError, websocket.WebSocketException, SocketError) as error:
            last_error = error
    raise Failure(f"OBS's websocket server did not answer on {WEBSOCKET_URL} within {seconds} s: {last_error}")


def source_screenshot(obs_socket, name, width):
    # OBS renders the answer on its graphics thread, here a software renderer
    # under Xvfb: on a busy machine one answer took over 10 s once (OBS 32).
    # It gets as long as the picture check itself waits for the picture.
    data = obs_socket.request(
        "GetSourceScreenshot", {"sourceName": name, "imageFormat": "bmp", "imageWidth": width}, seconds=30
    )
    encoded = data["imageData"].split(",", 1)[1]
    return parse_bmp(base64.b64decode(encoded))


# ---------------------------------------------------------------- OBS's log


def newest_log(config_dir):
    logs = os.path.join(config_dir, "obs-studio", "logs")
    names = sorted(n for n in os.listdir(logs) if n.endswith(".txt")) if os.path.isdir(logs) else []
    if not names:
        return None
    return os.path.join(logs, names[-1])


def read_log(config_dir):
    path = newest_log(config_dir)
    if path is None:
        return []
    with open(path, encoding="utf-8", errors="replace") as file:
        return file.read().splitlines()


def log_message(line):
    """A log line without its "hh:mm:ss.mmm: " time stamp."""
    head, sep, rest = line.partition(": ")
    return rest if sep and head.replace(":", "").replace(".", "").isdigit() else line


def loaded_modules(lines):
    """File names listed under "Loaded Modules:" in OBS's start-up log."""
    messages = [log_message(line) for line in lines]
    try:
        start = messages.index("  Loaded Modules:") + 1
    except ValueError:
        return []
    names = []
    for message in messages[start:]:
        if not message.startswith("    "):
            break
        names.append(message.strip())
    return names


def mapped_files(pid, name):
    """Paths of the files called `name` that a process has mapped."""
    with open(f"/proc/{pid}/maps", encoding="utf-8", errors="replace") as maps:
        paths = {line.split(None, 5)[5].strip() for line in maps if len(line.split(None, 5)) == 6}
    return {path for path in paths if os.path.basename(path) == name}


# ---------------------------------------------------------------- the checks


class Run:
    def __init__(self, args):
        self.args = args
        self.sender = None
        self.sender_out = None
        self.obs = None
        self.socket = None
        self.port = None

    def start_sender(self):
        self.sender = subprocess.Popen(
            [self.args.sender, "--port", "0", "--codec", self.args.sender_codec],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            text=True,
            encoding="utf-8",
            errors="replace",
        )
        self.sender_out = LineReader(self.sender.stdout, os.path.join(self.args.work, "sender.txt"))
        index = self.sender_out.wait_for(lambda line: line.startswith("listening on "), 10)
        if index is None:
            raise Failure("the sender did not print its listening address within 10 s")
        self.port = int(self.sender_out.snapshot()[index].rsplit(":", 1)[1])
        ok(f"sender listening on 127.0.0.1:{self.port}")

    def start_obs(self):
        env = dict(os.environ)
        env["XDG_CONFIG_HOME"] = self.args.config
        if self.args.ld_debug:
            # The dynamic linker's record of OBS's own symbol bindings, one
            # file a process, for the caller to read.
            env["LD_DEBUG"] = "bindings"
            env["LD_DEBUG_OUTPUT"] = self.args.ld_debug
        with open(os.path.join(self.args.work, "obs-stdout.txt"), "w") as out:
            self.obs = subprocess.Popen(
                [self.args.obs, "--multi"],
                stdin=subprocess.DEVNULL,
                stdout=out,
                stderr=subprocess.STDOUT,
                env=env,
                cwd=self.args.work,
            )
        started = time.monotonic()
        self.socket = connect_websocket(self.obs, 90)
        version, waited, refusals = until_ready(lambda: self.socket.request("GetVersion"), READY_SECONDS)
        ok(
            f"OBS {version.get('obsVersion')} answers on its websocket "
            f"(obs-websocket {version.get('obsWebSocketVersion')}, rpcVersion {version.get('rpcVersion')}) "
            f"after {time.monotonic() - started:.1f} s"
            f"; it answered \"not ready\" {refusals} times, for {waited:.1f} s"
        )

    def check_module_loaded(self):
        lines = read_log(self.args.config)
        modules = loaded_modules(lines)
        if "ostrelin.so" not in modules:
            raise Failure(f"OBS's log does not list ostrelin.so under \"Loaded Modules:\" (it lists {modules})")
        ok("module loaded: OBS lists ostrelin.so under \"Loaded Modules:\"")
        # The one OBS mapped must be the one installed (for this user, or
        # system-wide by a package), not another copy that would shadow it.
        installed = self.args.module
        mapped = mapped_files(self.obs.pid, "ostrelin.so")
        if mapped != {os.path.realpath(installed)}:
            raise Failure(f"OBS mapped {sorted(mapped)}, not just {installed}")
        ok(f"OBS runs the installed module: {installed}")
        if not any(log_message(line) == LOAD_LINE for line in lines):
            raise Failure(f'OBS\'s log lacks the line "{LOAD_LINE}"')
        ok(f'log shows "{LOAD_LINE}"')

    def check_refused(self):
        """OBS starts and stays up without the module, saying why in its log."""
        lines = read_log(self.args.config)
        if "ostrelin.so" in loaded_modules(lines):
            raise Failure("OBS loaded ostrelin.so, which it should have refused")
        reasons = [line for line in lines if self.args.refused in line]
        if not reasons:
            raise Failure(f'OBS\'s log does not say "{self.args.refused}"')
        ok(f"OBS refused the module: {log_message(reasons[0]).strip()}")
        kinds = self.socket.request("GetInputKindList", {"unversioned": False})["inputKinds"]
        if SOURCE_KIND in kinds:
            raise Failure(f"GetInputKindList lists {SOURCE_KIND} all the same")
        ok(f"GetInputKindList lacks {SOURCE_KIND}, and OBS runs on")

    def check_configuration(self):
        # An OBS that does not read the prepared configuration makes one of
        # its own, and may open its first-run wizard over the preview.
        profile = self.socket.request("GetProfileList")["currentProfileName"]
        collection = self.socket.request("GetSceneCollectionList")["currentSceneCollectionName"]
        video = self.socket.request("GetVideoSettings")
        canvas = (video["baseWidth"], video["baseHeight"])
        if (profile, collection, canvas) != (CONFIGURATION_NAME, CONFIGURATION_NAME, CANVAS):
            raise Failure(
                f'OBS ignored the prepared configuration: profile "{profile}", scene collection "{collection}", '
                f'canvas {canvas[0]}x{canvas[1]} instead of "{CONFIGURATION_NAME}", "{CONFIGURATION_NAME}", '
                f"{CANVAS[0]}x{CANVAS[1]}"
            )
        ok(f'OBS runs the prepared profile and scene collection "{CONFIGURATION_NAME}" ({canvas[0]}x{canvas[1]})')

    def check_kind_listed(self):
        kinds = self.socket.request("GetInputKindList", {"unversioned": False})["inputKinds"]
        if SOURCE_KIND not in kinds:
            raise Failure(f"GetInputKindList lacks {SOURCE_KIND}: {kinds}")
        ok(f"GetInputKindList contains {SOURCE_KIND}")

    def create_source(self):
        scene = self.socket.request("GetCurrentProgramScene")["currentProgramSceneName"]
        settings = {"conn_mode": 1, "host": "127.0.0.1", "port": self.port}
        created = self.socket.request(
            "CreateInput",
            {
                "sceneName": scene,
                "inputName": SOURCE_NAME,
                "inputKind": SOURCE_KIND,
                "inputSettings": settings,
                "sceneItemEnabled": True,
            },
        )
        # Fill the canvas with the picture, whatever its size, so the preview shows it large.
        video = self.socket.request("GetVideoSettings")
        self.socket.request(
            "SetSceneItemTransform",
            {
                "sceneName": scene,
                "sceneItemId": created["sceneItemId"],
                "sceneItemTransform": {
                    "boundsType": "OBS_BOUNDS_SCALE_INNER",
                    "boundsWidth": float(video["baseWidth"]),
                    "boundsHeight": float(video["baseHeight"]),
                    "positionX": 0.0,
                    "positionY": 0.0,
                },
            },
        )
        ok(f'CreateInput {SOURCE_KIND} "{SOURCE_NAME}" in scene "{scene}" with {json.dumps(settings)}')
        if self.sender_out.wait_for(lambda line: line == "connected", 15) is None:
            raise Failure("the sender saw no connection within 15 s of CreateInput")
        ok("sender: connected")

    def check_picture(self):
        problems = ["no screenshot taken"]
        first = None
        for _ in deadline_loop(30, 0.5):
            try:
                first = source_screenshot(self.socket, SOURCE_NAME, 640)
            except RequestFailed as failure:
                if failure.code != REQUEST_PROCESSING_FAILED:
                    raise
                problems = [f"no picture yet ({failure})"]
                continue
            problems = pattern_problems(*first)
            if not problems:
                break
        if problems:
            raise Failure("the source does not show the sender's picture within 30 s: " + "; ".join(problems))
        width, height, _ = first
        ok(f"GetSourceScreenshot ({width}x{height}) shows the pattern: red top-left, blue top-right, 8 bars below")

        time.sleep(0.5)
        second = source_screenshot(self.socket, SOURCE_NAME, 640)
        problems = pattern_problems(*second)
        if problems:
            raise Failure("a later screenshot lost the pattern: " + "; ".join(problems))
        difference = bottom_half_difference(first, second)
        if difference < 5:
            raise Failure(f"the bars did not move between two screenshots 0.5 s apart (difference {difference:.1f})")
        ok(f"the picture is live: the bars moved between two screenshots (mean difference {difference:.0f})")

    def check_decoder(self):
        name = DECODER_OF_CODEC[self.args.sender_codec]
        ready = LOGTEXT_PREFIX + LOGTEXT_DECODER_READY.split("%s")[0] + name + ","
        if not any(log_message(line).startswith(ready) for line in read_log(self.args.config)):
            raise Failure(f'OBS\'s log has no "{ready}" line for the sender\'s {self.args.sender_codec}')
        ok(f"the plug-in decodes the sender's {self.args.sender_codec} with libavcodec's {name} decoder")

    def check_audio(self):
        def levels(data):
            for entry in data.get("inputs", []):
                if entry.get("inputName") == SOURCE_NAME:
                    return entry.get("inputLevelsMul", [])
            return []

        def loud(data):
            return any(value > 0 for channel in levels(data) for value in channel)

        if self.socket.wait_event("InputVolumeMeters", loud, 15) is None:
            raise Failure(f'no InputVolumeMeters event with a level above zero for "{SOURCE_NAME}" within 15 s')
        # obs-websocket's meter takes each channel's peak over the block and
        # the four samples before it, which it never sets before the first
        # block; so a peak may show anything at first: 64 and 8.3e15 here,
        # once still in the three events after the first. It forgets levels
        # 0.3 s old, so 1 s of events on (one each 50 ms) every level comes
        # from the source's own audio.
        skipped = []
        if self.socket.wait_event("InputVolumeMeters", lambda data: skipped.append(data) or len(skipped) >= 20, 5) is None:
            raise Failure("fewer than 20 InputVolumeMeters events within 5 s of the first level above zero")
        later = [self.socket.wait_event("InputVolumeMeters", loud, 5) for _ in range(3)]
        if None in later:
            raise Failure(f'the meters of "{SOURCE_NAME}" fell silent 1 s after their first level above zero')
        beyond = [value for event in later for channel in levels(event) for value in channel if not 0 <= value <= 1]
        if beyond:
            raise Failure(f"audio levels beyond full scale (0 to 1) in {[levels(event) for event in later]}")
        peaks = [max(channel) for channel in levels(later[-1])]
        ok("audio meters move, within full scale: "
           + ", ".join(f"channel {i + 1} peak {p:.3f}" for i, p in enumerate(peaks)))

    def check_zoom(self):
        start = self.sender_out.count()
        self.socket.request("SetInputSettings", {"inputName": SOURCE_NAME, "inputSettings": {"zoom": 2.5}})
        if self.sender_out.wait_for(lambda line: line == "control zoom 2500", 5, start) is None:
            raise Failure('SetInputSettings {"zoom": 2.5}: the sender did not print "control zoom 2500" within 5 s')
        ok('SetInputSettings {"zoom": 2.5} -> sender: control zoom 2500')

    def grab_screen(self, raw):
        """The whole screen saved as PNG in `raw`, and its red and blue pixel
        counts (every other row and column looked at)."""
        result = subprocess.run(
            ["import", "-window", "root", raw], stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30
        )
        if result.returncode != 0:
            raise Failure(f"import -window root failed: {result.stderr.strip()}")
        bmp = subprocess.run(
            ["convert", raw, "-type", "TrueColor", "bmp3:-"], stdin=subprocess.DEVNULL, capture_output=True, timeout=30
        )
        if bmp.returncode != 0:
            raise Failure(f"convert to BMP failed: {bmp.stderr.decode(errors='replace').strip()}")
        width, height, rows = parse_bmp(bmp.stdout)
        red = sum(4 for row in rows[::2] for pixel in row[::2] if close_to(pixel, RED))
        blue = sum(4 for row in rows[::2] for pixel in row[::2] if close_to(pixel, BLUE))
        return width, height, red, blue

    def screen_shot(self):
        # The preview must show the picture: red and blue pixels, each at
        # least 1 % of the screen. A busy machine may draw OBS's window late.
        raw = os.path.join(self.args.work, "screen.png")
        started = time.monotonic()
        looks = 0
        for _ in deadline_loop(SCREEN_SECONDS, 1):
            looks += 1
            width, height, red, blue = self.grab_screen(raw)
            if min(red, blue) >= 0.01 * width * height:
                break
        else:
            raise Failure(
                f"the screen shows too little of the picture after {time.monotonic() - started:.1f} s "
                f"({looks} screenshots): "
                f"{red} red and {blue} blue pixels"
            )
        result = subprocess.run(
            # Without a window manager OBS's window sits at the top left of a
            # black screen: trim the black away, keep the window.
            ["convert", raw, "-bordercolor", "black", "-border", "1", "-trim", "+repage", "-resize", "1280x720>",
             self.args.screenshot],
            stdin=subprocess.DEVNULL,
            capture_output=True,
            text=True,
            timeout=30,
        )
        if result.returncode != 0:
            raise Failure(f"saving the screenshot failed: {result.stderr.strip()}")
        ok(
            f"screen ({width}x{height}) shows the picture in OBS's preview ({red} red, {blue} blue pixels, "
            f"screenshot {looks}, after {time.monotonic() - started:.1f} s); saved {self.args.screenshot}"
        )

    def remove_source(self):
        connected = self.sender_out.wait_for(lambda line: line == "connected", 0)
        self.socket.request("RemoveInput", {"inputName": SOURCE_NAME}, seconds=10)
        started = time.monotonic()
        self.socket.request("GetVersion", seconds=2)
        ok(f'RemoveInput "{SOURCE_NAME}"; OBS answered GetVersion {time.monotonic() - started:.2f} s later')
        if self.sender_out.wait_for(lambda line: line == "disconnected", 10, connected + 1) is None:
            raise Failure("the sender saw no disconnection within 10 s of RemoveInput")
        ok("sender: disconnected")

    def exit_obs(self):
        self.socket.close()
        self.socket = None
        # OBS 29 under Xvfb sometimes crashes in Qt's painting when asked to
        # quit while its window still redraws after a source went away (seen
        # with its own media source too); a moment's pause avoids that.
        time.sleep(2)
        self.obs.send_signal(signal.SIGINT)
        try:
            status = self.obs.wait(60)
        except subprocess.TimeoutExpired:
            raise Failure("OBS did not exit within 60 s of SIGINT")
        lines = [line for line in read_log(self.args.config) if line.strip()]
        last = log_message(lines[-1]) if lines else "(empty log)"
        if last != LEAK_LINE:
            raise Failure(f'OBS exited with status {status}; its log ends with "{last}", not "{LEAK_LINE}"')
        ok(f'OBS exited on SIGINT with status {status}; its log ends with "{LEAK_LINE}"')
        if status != 0:
            raise Failure(f"OBS exited with status {status}")

    def cleanup(self):
        if self.socket is not None:
            self.socket.close()
        stop_process(self.obs, signal.SIGTERM, 10)
        stop_process(self.sender, signal.SIGTERM, 5)

    def report_failure(self):
        lines = read_log(self.args.config)
        print(f"--- last 60 lines of OBS's log ({newest_log(self.args.config)}):", flush=True)
        for line in lines[-60:]:
            print(line)
        print("--- the sender's output:")
        for line in self.sender_out.snapshot() if self.sender_out else []:
            print(line)
        print("---", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--obs", default="obs", help="the OBS Studio program")
    parser.add_argument("--sender", required=True, help="the ostrelin-sender program")
    parser.add_argument("--config", required=True, help="prepared XDG_CONFIG_HOME for OBS")
    parser.add_argument("--work", required=True, help="folder for logs and pictures")
    parser.add_argument("--screenshot", required=True, help="where to save the screen as PNG")
    parser.add_argument("--module", required=True, help="the installed ostrelin.so OBS must run")
    parser.add_argument("--ld-debug", help="record OBS's symbol bindings in files of this prefix (LD_DEBUG)")
    parser.add_argument("--sender-codec", choices=sorted(DECODER_OF_CODEC), default="h264", help="the sender's --codec")
    parser.add_argument("--refused", help="OBS must refuse the module, with this text in its log")
    run = Run(parser.parse_args())

    def terminated(number, _frame):
        # One stop is enough: the clean-up that follows must not be cut short.
        for each in STOP_SIGNALS:
            signal.signal(each, signal.SIG_IGN)
        raise Failure(f"stopped by signal {signal.Signals(number).name}")

    for number in STOP_SIGNALS:
        signal.signal(number, terminated)
    started = time.monotonic()
    failed = False
    try:
        if run.args.refused:
            steps = [run.start_obs, run.check_refused, run.exit_obs]
        else:
            steps = [
                run.start_sender,
                run.start_obs,
                run.check_module_loaded,
                run.check_configuration,
                run.check_kind_listed,
                run.create_source,
                run.check_picture,
                run.check_decoder,
                run.check_audio,
                run.check_zoom,
                run.screen_shot,
                run.remove_source,
                run.exit_obs,
            ]
        for step in steps:
            step()
    except Exception as failure:
        known = isinstance(failure, (Failure, SocketError))
        reason = str(failure) if known else f"{type(failure).__name__}: {failure}"
        print(f"FAIL: {reason}", flush=True)
        failed = True
    finally:
        run.cleanup()
    if failed:
        run.report_failure()
        return 1
    print(f"all checks passed in {time.monotonic() - started:.1f} s", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
