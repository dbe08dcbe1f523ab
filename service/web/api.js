// The REST API as the page uses it: the token lives in this tab's
// sessionStorage (never a cookie) and goes with every request, photos
// included.

const TOKEN_KEY = "doorlinkd.token";

export function token() {
  return sessionStorage.getItem(TOKEN_KEY) || "";
}

export function setToken(text) {
  if (text) sessionStorage.setItem(TOKEN_KEY, text);
  else sessionStorage.removeItem(TOKEN_KEY);
}

export class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

// Called with the error whenever the server refuses the token.
let onUnauthorised = () => {};
export function whenUnauthorised(handler) {
  onUnauthorised = handler;
}

// Without a token no Authorization header goes out at all: a request that
// races a sign-out asks as a stranger, not with an empty token.
export function headers(extra) {
  const held = token();
  return held ? {Authorization: `Bearer ${held}`, ...extra} : {...extra};
}

async function failure(response) {
  let message = `${response.status} ${response.statusText}`;
  try {
    const body = await response.json();
    if (body && typeof body.error === "string") message = body.error;
  } catch {
    // not JSON: keep the status line
  }
  const error = new ApiError(response.status, message);
  if (response.status === 401) onUnauthorised(error);
  return error;
}

// JSON in, JSON out; throws ApiError with the server's {"error"} text.
export async function api(method, path, body) {
  const options = {method, headers: headers(), cache: "no-store"};
  if (body !== undefined) {
    options.headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, options);
  } catch (e) {
    throw new ApiError(0, `The service did not answer (${e.message})`);
  }
  if (!response.ok) throw await failure(response);
  const text = await response.text();
  return text ? JSON.parse(text) : null;
}

export function get(path, query) {
  const params = new URLSearchParams();
  for (const [key, value] of Object.entries(query || {})) {
    if (value !== undefined && value !== null && value !== "") params.set(key, value);
  }
  const search = params.toString();
  return api("GET", search ? `${path}?${search}` : path);
}

// Photos need the token too, so they are fetched and shown through blob
// URLs; a PhotoSet owns the URLs of one view and revokes them with it.
export class PhotoSet {
  constructor() {
    this.urls = new Map();  // REST path → Promise of a blob URL
  }

  url(path) {
    if (!this.urls.has(path)) {
      this.urls.set(path, fetch(path, {headers: headers()}).then(async (response) => {
        if (!response.ok) throw await failure(response);
        return URL.createObjectURL(await response.blob());
      }));
    }
    return this.urls.get(path);
  }

  // Loads the photo into img; img.dataset.state tells the tests how it went.
  show(img, path) {
    img.dataset.state = "loading";
    img.onload = () => { img.dataset.state = "loaded"; };
    img.onerror = () => { img.dataset.state = "failed"; };
    this.url(path).then((url) => {
      img.src = url;
    }, (error) => {
      img.alt = `Photo not loaded: ${error.message}`;
      img.dataset.state = "failed";
    });
  }

  revoke() {
    for (const promise of this.urls.values()) promise.then((url) => URL.revokeObjectURL(url), () => {});
    this.urls.clear();
  }
}

// The REST path of a record's or event's photo, however the item names it.
export function photoPath(item) {
  if (!item) return null;
  if (typeof item.path === "string" && item.path) return item.path;
  const sha = item.sha256 || (item.photo && item.photo.sha256);
  return sha ? `/api/v1/photos/${encodeURIComponent(sha)}` : null;
}
