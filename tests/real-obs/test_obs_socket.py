"""The waiting out of obs-websocket's "not ready" answers, on a clock of the
test's own."""

import unittest

from obs_socket import REQUEST_NOT_READY, REQUEST_PROCESSING_FAILED, NotReady, RequestFailed, until_ready


class Clock:
    def __init__(self):
        self.now = 0.0
        self.sleeps = []

    def __call__(self):
        return self.now

    def sleep(self, seconds):
        self.sleeps.append(seconds)
        self.now += seconds


class Obs:
    """Answers "not ready" until the clock reaches ready_at, then `answer`;
    records when it was asked."""

    def __init__(self, clock, ready_at, code=REQUEST_NOT_READY):
        self.clock = clock
        self.ready_at = ready_at
        self.code = code
        self.asked = []

    def __call__(self):
        self.asked.append(self.clock.now)
        if self.clock.now < self.ready_at - 1e-9:
            raise RequestFailed("GetVersion", self.code, "OBS is not ready to perform the request.")
        return {"obsVersion": "32.2.2"}


def wait(ready_at, seconds, pause=0.25, code=REQUEST_NOT_READY):
    clock = Clock()
    obs = Obs(clock, ready_at, code)
    try:
        result = until_ready(obs, seconds, clock=clock, sleep=clock.sleep, pause=pause)
    except NotReady as failure:
        return obs, clock, failure
    return obs, clock, result


class UntilReadyTest(unittest.TestCase):
    def test_ready_times_around_the_limit(self):
        # (ready at, limit, pause): answered?, "not ready" answers, times asked
        cases = [
            ((0.0, 60, 0.25), True, 0, [0.0]),
            ((0.75, 60, 0.25), True, 3, [0.0, 0.25, 0.5, 0.75]),
            # The last try falls on the limit itself, also when the pause does not divide it.
            ((1.0, 1.0, 0.25), True, 4, [0.0, 0.25, 0.5, 0.75, 1.0]),
            ((1.1, 1.1, 0.25), True, 5, [0.0, 0.25, 0.5, 0.75, 1.0, 1.1]),
            ((1.11, 1.1, 0.25), False, 6, [0.0, 0.25, 0.5, 0.75, 1.0, 1.1]),
            ((5.0, 1.0, 0.25), False, 5, [0.0, 0.25, 0.5, 0.75, 1.0]),
        ]
        for (ready_at, seconds, pause), answered, refusals, asked in cases:
            with self.subTest(ready_at=ready_at, seconds=seconds):
                obs, clock, outcome = wait(ready_at, seconds, pause)
                self.assertEqual([round(t, 6) for t in obs.asked], asked)
                if answered:
                    result, waited, counted = outcome
                    self.assertEqual(result, {"obsVersion": "32.2.2"})
                    self.assertAlmostEqual(waited, ready_at)
                    self.assertEqual(counted, refusals)
                else:
                    self.assertIsInstance(outcome, NotReady)
                    self.assertIn(f"after {seconds:.1f} s, {refusals} times", str(outcome))
                # It never sleeps past the limit.
                self.assertLessEqual(clock.now, seconds + 1e-9)

    def test_other_failures_are_not_waited_out(self):
        clock = Clock()
        obs = Obs(clock, 1.0, REQUEST_PROCESSING_FAILED)
        with self.assertRaises(RequestFailed) as raised:
            until_ready(obs, 60, clock=clock, sleep=clock.sleep)
        self.assertEqual(raised.exception.code, REQUEST_PROCESSING_FAILED)
        self.assertNotIsInstance(raised.exception, NotReady)
        self.assertEqual(obs.asked, [0.0])
        self.assertEqual(clock.sleeps, [])


if __name__ == "__main__":
    unittest.main()
