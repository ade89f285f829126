"""A small obs-websocket 5 client (protocol rpcVersion 1), enough for tests:
one request at a time, events kept until asked for."""

import json
import time

import websocket

# OpCodes of the protocol.
OP_HELLO = 0
OP_IDENTIFY = 1
OP_IDENTIFIED = 2
OP_EVENT = 5
OP_REQUEST = 6
OP_REQUEST_RESPONSE = 7

# EventSubscription bits.
EVENT_INPUT_VOLUME_METERS = 1 << 16

# RequestStatus codes.
REQUEST_NOT_READY = 207
REQUEST_PROCESSING_FAILED = 702


class SocketError(Exception):
    pass


class RequestFailed(SocketError):
    def __init__(self, request_type, code, comment):
        super().__init__(f"{request_type} failed: code {code}, {comment}")
        self.code = code


class NotReady(SocketError):
    pass


def until_ready(attempt, seconds, clock=time.monotonic, sleep=time.sleep, pause=0.25):
    """attempt()'s result once it no longer fails with status 207, which
    obs-websocket answers while OBS is still starting, together with the time
    waited and the number of such answers. Tries every `pause` seconds, the
    last time when `seconds` have passed; then raises NotReady."""
    start = clock()
    refusals = 0
    while True:
        try:
            return attempt(), clock() - start, refusals
        except RequestFailed as failure:
            if failure.code != REQUEST_NOT_READY:
                raise
            refusals += 1
            waited = clock() - start
            if waited >= seconds:
                raise NotReady(
                    f"OBS still answered {failure.code} (not ready) after {waited:.1f} s, {refusals} times: {failure}"
                ) from None
            sleep(min(pause, seconds - waited))


class ObsSocket:
    """A connection that has said Hello and Identify. Events that arrive
    while a request waits for its answer are kept for wait_event."""

    def __init__(self, url, event_subscriptions):
        self.ws = websocket.create_connection(url, timeout=5)
        self.events = []
        self.next_id = 0
        try:
            self._identify(event_subscriptions)
        except Exception:
            self.close()
            raise

    def _identify(self, event_subscriptions):
        hello = self._receive(5)
        if hello.get("op") != OP_HELLO:
            raise SocketError(f"websocket: expected Hello, got {hello}")
        rpc = hello["d"].get("rpcVersion")
        if rpc != 1:
            raise SocketError(f"websocket: server speaks rpcVersion {rpc}, not 1")
        if "authentication" in hello["d"]:
            raise SocketError("websocket: server asks for authentication although the configuration disables it")
        self._send(OP_IDENTIFY, {"rpcVersion": 1, "eventSubscriptions": event_subscriptions})
        identified = self._receive(5)
        if identified.get("op") != OP_IDENTIFIED:
            raise SocketError(f"websocket: expected Identified, got {identified}")

    def close(self):
        try:
            self.ws.close()
        except Exception:
            pass

    def _send(self, op, data):
        self.ws.send(json.dumps({"op": op, "d": data}))

    def _receive(self, seconds):
        self.ws.settimeout(max(seconds, 0.01))
        return json.loads(self.ws.recv())

    def _pump(self, end):
        """One message received before the monotonic time `end` ({} when the
        wait ended without one); events are also kept in self.events. None
        once `end` has passed."""
        left = end - time.monotonic()
        if left <= 0:
            return None
        try:
            reply = self._receive(left)
        except websocket.WebSocketTimeoutException:
            return {}
        if reply.get("op") == OP_EVENT:
            self.events.append(reply["d"])
        return reply

    def request(self, request_type, data=None, seconds=10):
        """Sends a request and returns its responseData; fails on a request
        status other than success or when no answer comes in time."""
        self.next_id += 1
        request_id = str(self.next_id)
        message = {"requestType": request_type, "requestId": request_id}
        if data is not None:
            message["requestData"] = data
        self._send(OP_REQUEST, message)
        end = time.monotonic() + seconds
        while True:
            reply = self._pump(end)
            if reply is None:
                raise SocketError(f"{request_type}: no answer within {seconds} s")
            if reply.get("op") == OP_REQUEST_RESPONSE and reply["d"].get("requestId") == request_id:
                status = reply["d"]["requestStatus"]
                if not status.get("result"):
                    raise RequestFailed(request_type, status.get("code"), status.get("comment"))
                return reply["d"].get("responseData", {})

    def wait_event(self, event_type, predicate, seconds):
        """The data of the first event of this type that satisfies predicate,
        or None once `seconds` have passed."""
        end = time.monotonic() + seconds
        while True:
            while self.events:
                event = self.events.pop(0)
                if event.get("eventType") == event_type and predicate(event.get("eventData", {})):
                    return event["eventData"]
            if self._pump(end) is None:
                return None
