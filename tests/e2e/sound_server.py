"""A sound server of the test's own: PulseAudio with one null sink, its
socket in the test's runtime folder, and a recording of what reaches that
sink (parec on null.monitor) to tell sound from silence.

    sound = sound_server.start(world, env)   # env: the program's environment
    sound.level()                            # RMS of the last half second
"""

import array
import math
import os
import subprocess

import harness

RATE = 8000  # samples a second; 16-bit mono


class SoundServer:
    def __init__(self, world, env):
        self.env = {k: env[k] for k in ("PATH", "HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME")
                    if k in env}
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:"
        # -n: none of the machine's own configuration; as root it warns, and
        # runs all the same, with everything in the runtime folder.
        self.daemon = harness.Process(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--use-pid-file=no", "--log-target=stderr",
             "-L", "module-native-protocol-unix",
             "-L", "module-null-sink sink_name=null",
             "-L", "module-always-sink"],
            self.env, cwd=world.root, log_prefix=world.path("pulseaudio"))
        world.add_cleanup(self.daemon.stop)
        harness.wait_until(lambda: self._pactl("info") == 0, what="the sound server")
        self._pactl("set-default-sink", "null")
        # The recording is parec's standard output, which the harness logs.
        self.recorder = harness.Process(
            ["parec", "--device=null.monitor", "--format=s16le", "--channels=1",
             "--rate=%d" % RATE, "--raw", "--latency-msec=50"],
            self.env, cwd=world.root, log_prefix=world.path("monitor"))
        self.recording = world.path("monitor.out")
        world.add_cleanup(self.recorder.stop)
        harness.wait_until(lambda: os.path.getsize(self.recording) >= RATE * 2,
                           what="the recording of the sound server's output")

    def _pactl(self, *args):
        if not self.daemon.running:
            raise RuntimeError("the sound server ended: " + self.daemon.output()[1])
        return subprocess.run(["pactl"] + list(args), env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=harness.DEFAULT_TIMEOUT).returncode

    def level(self, seconds=0.5):
        """The RMS of the last `seconds` recorded (0 for silence; 16-bit
        samples)."""
        size = int(RATE * seconds) * 2
        with open(self.recording, "rb") as f:
            f.seek(0, os.SEEK_END)
            end = f.tell() - f.tell() % 2
            f.seek(max(0, end - size))
            samples = array.array("h", f.read(end - f.tell()))
        if not samples:
            return 0.0
        return math.sqrt(sum(s * s for s in samples) / len(samples))

    def wait_for_level(self, predicate, what, timeout=harness.DEFAULT_TIMEOUT):
        """Waits until predicate(level()) holds; returns that level."""
        return harness.wait_until(lambda: predicate(self.level()) and [self.level()], timeout,
                                  interval=0.1, what=what)[0]


def start(world, env):
    return SoundServer(world, env)
