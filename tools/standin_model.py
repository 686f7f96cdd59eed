#!/usr/bin/env python3
"""A stand-in for an OpenAI-compatible model server, for scripts/check-agents.sh.

Listens on 127.0.0.1:PORT only and answers POST .../chat/completions with
native tool calls, as OpenCode and Cline ask for them:
  - no tool result in the conversation yet: one call of the shell tool offered
    (OpenCode's bash, Cline's run_commands) that prints tool-ran-42;
  - a tool result there: Cline's attempt_completion when offered and not yet
    called, else the final text, which says whether the command's output came
    back (the command holds $((40+2)), never 42, so only running it gives 42);
  - no shell tool offered (OpenCode's title request): a short text.
Streams server-sent events when the request says "stream": true.
Each request gets one line on standard error: the roles of its messages and
the answer, which two runs of the same agent can compare.

usage: tools/standin_model.py PORT
"""
import json
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MARK = "tool-ran-42"
SHELL_TOOLS = {
    "bash": {"command": "echo tool-ran-$((40+2))", "description": "Print a marker"},
    "run_commands": {"commands": ["echo tool-ran-$((40+2))"]},
}
FINAL_OK = "Stand-in done: the command printed " + MARK + "."
FINAL_BAD = "Stand-in done: the command's output never came back."
NO_TOOL = "Stand-in reply."


def said(text):
    return {"role": "assistant", "content": text}


def calls(name, arguments, number):
    return {"role": "assistant", "content": None, "tool_calls": [{
        "index": 0, "id": f"call_{number}", "type": "function",
        "function": {"name": name, "arguments": json.dumps(arguments)}}]}


def answer(messages, offered):
    """The assistant's message: a text, or one call of a tool that is offered."""
    results = [json.dumps(m.get("content")) for m in messages if m.get("role") == "tool"]
    called = {c.get("function", {}).get("name") for m in messages for c in m.get("tool_calls") or []}
    if not results:
        shell = next((name for name in SHELL_TOOLS if name in offered), None)
        return calls(shell, SHELL_TOOLS[shell], 1) if shell else said(NO_TOOL)
    final = FINAL_OK if any(MARK in r for r in results) else FINAL_BAD
    if "attempt_completion" in offered and "attempt_completion" not in called:
        return calls("attempt_completion", {"result": final}, len(results) + 1)
    return said(final)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass  # one line per request of our own instead

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        if not self.path.endswith("/chat/completions"):
            self.send_error(404)
            return
        request = json.loads(body or b"{}")
        messages = request.get("messages") or []
        message = answer(messages, {t.get("function", {}).get("name") for t in request.get("tools") or []})
        call = message.get("tool_calls")
        what = "call " + call[0]["function"]["name"] if call else repr(message["content"])
        print(f"[{','.join(m.get('role', '?') for m in messages)}] -> {what}", file=sys.stderr, flush=True)

        finish = "tool_calls" if call else "stop"
        head = {"id": "chatcmpl-standin", "created": 0, "model": request.get("model", "standin-model")}
        usage = {"prompt_tokens": 1, "completion_tokens": 1, "total_tokens": 2}
        if request.get("stream"):
            chunks = [{"choices": [{"index": 0, "delta": message, "finish_reason": None}]},
                      {"choices": [{"index": 0, "delta": {}, "finish_reason": finish}]},
                      {"choices": [], "usage": usage}]
            events = [{**head, "object": "chat.completion.chunk", **c} for c in chunks]
            self.reply("text/event-stream", "".join(f"data: {json.dumps(e)}\n\n" for e in events)
                       + "data: [DONE]\n\n")
        else:
            whole = {**head, "object": "chat.completion", "usage": usage,
                     "choices": [{"index": 0, "message": message, "finish_reason": finish}]}
            self.reply("application/json", json.dumps(whole))

    def reply(self, kind, text):
        data = text.encode()
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


if __name__ == "__main__":
    ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
