// The live event stream: a streamed fetch of /api/v1/events/stream (an
// EventSource cannot send the token), parsed as server-sent events and
// resumed after a drop from the last id seen, with Last-Event-ID.

import {headers as withToken} from "./api.js";

export class EventStream {
  // onEvent(event object); onState("live" | "connecting" | "stopped", why).
  constructor(onEvent, onState) {
    this.onEvent = onEvent;
    this.onState = onState;
    this.lastId = null;
    this.abort = null;
    this.running = false;
    this.connected = false;
  }

  // after: the events after this id, then those to come.
  start(after) {
    if (this.running) return;
    this.lastId = String(after);
    this.running = true;
    this.loop();
  }

  stop() {
    this.running = false;
    if (this.abort) this.abort.abort();
    this.onState("stopped", "");
  }

  async loop() {
    let delay = 1000;
    while (this.running) {
      this.onState("connecting", "");
      this.connected = false;
      let why = "the stream ended";
      try {
        await this.readOnce();
      } catch (e) {
        if (!this.running) return;
        why = e.message;
      }
      if (!this.running) return;
      // After a stream that was open, again in a second; a service that
      // keeps refusing is asked less and less often, up to every 15 s.
      delay = this.connected ? 1000 : Math.min(delay * 2, 15000);
      this.onState("connecting", `${why}; again in ${Math.round(delay / 1000)} s`);
      await new Promise((resolve) => setTimeout(resolve, delay));
    }
  }

  async readOnce() {
    this.abort = new AbortController();
    const headers = withToken({Accept: "text/event-stream"});
    if (this.lastId !== null) headers["Last-Event-ID"] = this.lastId;
    const response = await fetch("/api/v1/events/stream", {headers, cache: "no-store", signal: this.abort.signal});
    if (!response.ok) {
      let message = `${response.status} ${response.statusText}`;
      try {
        message = (await response.json()).error || message;
      } catch {
        // not JSON
      }
      if (response.status === 401 || response.status === 403) this.running = false;
      throw new Error(message);
    }
    this.connected = true;
    this.onState("live", "");
    const reader = response.body.getReader();
    const decoder = new TextDecoder();
    let buffer = "";
    let id = null;
    let data = [];
    for (;;) {
      const {value, done} = await reader.read();
      if (done) return;
      buffer += decoder.decode(value, {stream: true});
      let end;
      while ((end = buffer.search(/\r\n|\r|\n/)) >= 0) {
        if (end === buffer.length - 1 && buffer[end] === "\r") break;  // maybe half of \r\n
        const line = buffer.slice(0, end);
        buffer = buffer.slice(end + (buffer.startsWith("\r\n", end) ? 2 : 1));
        if (line === "") {
          if (id !== null) this.lastId = id;
          if (data.length) this.dispatch(data.join("\n"));
          id = null;
          data = [];
        } else if (!line.startsWith(":")) {
          const colon = line.indexOf(":");
          const field = colon < 0 ? line : line.slice(0, colon);
          let value = colon < 0 ? "" : line.slice(colon + 1);
          if (value.startsWith(" ")) value = value.slice(1);
          if (field === "id") id = value;
          else if (field === "data") data.push(value);
        }
      }
    }
  }

  dispatch(text) {
    let event;
    try {
      event = JSON.parse(text);
    } catch {
      return;  // not an event of ours
    }
    this.onEvent(event);
  }
}
