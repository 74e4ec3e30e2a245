"""The script bridge through the real web view: answers, rejections, no
answer, bindings across reloads, and who may call."""

from harness.app_server import AppServer, page
from harness.client_run import ClientRun
from harness.ini import ini_value


def test_answers_reach_the_page_as_parsed_json_or_undefined_or_rejection(display, tmp_path):
    # getHostInfo is the window host's echo: it answers its first argument as is.
    script = """
      report('set', await outcome(() => window.setSetting('colour', 'dark "blue"/x')));
      report('get', await outcome(() => window.getSetting('colour', 'none')));
      report('default', await outcome(() => window.getSetting('missing', 2.50)));
      report('wrong-count', await outcome(() => window.getSetting('colour')));
      report('object', await outcome(() => window.getHostInfo('{"a":[1,true,null]}')));
      report('not-json', await outcome(() => window.getHostInfo('{not json')));
      report('no-answer', await outcome(() => window.getHostInfo()));
      report('all', await outcome(() => window.getAllSettings()));
      report('names', ['getHostInfo','setSetting','getSetting','closeApp','reload','openURL','sendMail']
                        .map(n => typeof window[n]));
    """
    with AppServer(routes={"/app.html": page(script)}) as server:
        run = ClientRun(display, tmp_path, url=server.url("/app.html"))
        with run:
            assert server.wait_result("set") == {"undefined": True}
            assert server.wait_result("get") == {"ok": 'dark "blue"/x'}
            assert server.wait_result("default") == {"ok": "2.5"}
            assert server.wait_result("wrong-count") == {"undefined": True}
            assert server.wait_result("object") == {"ok": {"a": [1, True, None]}}
            assert server.wait_result("not-json") == {"error": "Failed to parse binding result as JSON"}
            assert server.wait_result("no-answer") == {"undefined": True}
            assert server.wait_result("all") == {"ok": {"colour": 'dark "blue"/x'}}
            # Bound commands exist; a command without a handler is not defined.
            assert server.wait_result("names") == ["function"] * 6 + ["undefined"]
            run.wait_log("getSetting had wrong parameter count!")
        assert ini_value(run.ini_text(), "WebApp", "colour") == 'dark "blue"/x'


def test_bindings_survive_reload_and_navigation(display, tmp_path):
    first = """
      const n = Number(sessionStorage.getItem('loads') || 0) + 1;
      sessionStorage.setItem('loads', n);
      await report('load', {n: n, get: await outcome(() => window.getSetting('k', 'd' + n))});
      if (n === 1) location.reload();
      else if (n === 2) location.href = '/second.html';
    """
    second = "report('second', await outcome(() => window.getSetting('k', 'other')));"
    with AppServer(routes={"/app.html": page(first), "/second.html": page(second)}) as server:
        run = ClientRun(display, tmp_path, url=server.url("/app.html"))
        with run:
            assert server.wait_result("load", count=1) == {"n": 1, "get": {"ok": "d1"}}
            assert server.wait_result("load", count=2) == {"n": 2, "get": {"ok": "d2"}}
            assert server.wait_result("second") == {"ok": "other"}


def test_only_the_app_origins_top_level_page_may_call(display, tmp_path):
    # The attacker frame and page come from another origin (127.0.0.2). They
    # try the secret hand-out, a forged call and the page functions.
    attacker = """
      const channel = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.velomarkBridge;
      const hello = channel ? await outcome(() => channel.postMessage(JSON.stringify({kind: 'hello'}))) : 'no channel';
      const forged = channel ? await outcome(() => channel.postMessage(JSON.stringify(
          {kind: 'call', name: 'setSetting', id: 1, secret: 'guess', args: '["stolen","yes"]'}))) : 'no channel';
      const direct = typeof window.setSetting === 'function'
          ? await outcome(() => window.setSetting('stolen', 'yes')) : 'not defined';
      report(window.top === window ? 'top' : 'frame', {hello: hello, forged: forged, direct: direct});
    """
    with AppServer(host="127.0.0.2", routes={"/evil.html": page(attacker)}) as evil:
        framing = f"""
          const frame = document.createElement('iframe');
          frame.src = '{evil.url("/evil.html")}';
          document.body.appendChild(frame);
          report('app', await outcome(() => window.setSetting('mine', 'ok')));
        """
        leaving = f"location.href = '{evil.url('/evil.html')}';"
        with AppServer(routes={"/framing.html": page(framing), "/leaving.html": page(leaving)}) as server:
            run = ClientRun(display, tmp_path / "frame", url=server.url("/framing.html"))
            with run:
                assert server.wait_result("app") == {"undefined": True}
                frame = evil.wait_result("frame")
                # The channel lives in the bridge's own script world: no frame reaches it.
                assert frame == {"hello": "no channel", "forged": "no channel", "direct": "not defined"}
            assert ini_value(run.ini_text(), "WebApp", "mine") == "ok"
            assert ini_value(run.ini_text(), "WebApp", "stolen") is None

            # The top-level page itself moves to the other origin.
            run = ClientRun(display, tmp_path / "top", url=server.url("/leaving.html"))
            with run:
                top = evil.wait_result("top")
                assert top == {"hello": "no channel", "forged": "no channel",
                               "direct": {"error": "Bridge call refused"}}
                # The log names the caller: the top-level page itself.
                run.wait_log(f"ERROR: Refused bridge call [setSetting] from [{evil.url('/evil.html')}]")
            assert ini_value(run.ini_text(), "WebApp", "stolen") is None


# The page of the application's origin replaces every built-in it can think
# of before it calls anything, collects every string that passes through its
# replacements and hands them all to a frame of another origin.
SNIFFING_PAGE = """
  const seen = new Set();
  const note = (v) => { if (typeof v === 'string' && v.length >= 16 && v.length < 4096) seen.add(v); };
  const noteAll = (list) => { for (const v of list) { note(v); if (v && typeof v === 'object') {
      try { for (const k of Object.keys(v)) note(v[k]); } catch (e) {} } } };
  const apply = Reflect.apply;
  const wrap = (owner, key) => {
    const original = owner[key];
    owner[key] = function (...args) { noteAll(args); return apply(original, this, args); };
  };
  const origThen = Promise.prototype.then;
  Promise.prototype.then = function (ok, err) {
    note(this);
    return apply(origThen, this, [(v) => { noteAll([v]); return ok ? ok(v) : v; },
                                  (e) => { if (err) return err(e); throw e; }]);
  };
  let inGetter = false;
  Object.defineProperty(Promise.prototype, 'constructor', {configurable: true, get() {
    if (!inGetter) {
      inGetter = true;
      try { apply(origThen, this, [(v) => noteAll([v])]); } finally { inGetter = false; }
    }
    return Promise;
  }});
  Object.defineProperty(Object.prototype, 'toJSON', {configurable: true,
      get() { noteAll([this]); return undefined; }});
  for (const [owner, key] of [[JSON, 'stringify'], [JSON, 'parse'], [Function.prototype, 'call'],
                              [Function.prototype, 'apply'], [Function.prototype, 'bind'],
                              [EventTarget.prototype, 'dispatchEvent'], [Object, 'defineProperty'],
                              [Object, 'freeze'], [Array.prototype, 'push'], [String.prototype, 'slice']])
    wrap(owner, key);
  const OrigEvent = CustomEvent;
  window.CustomEvent = function (type, init) { noteAll([type, init && init.detail]); return new OrigEvent(type, init); };

  const mine = await outcome(() => window.setSetting('mine', 'ok'));
  const back = await outcome(() => window.getSetting('mine', ''));
  const sniffed = [...seen];
  const candidates = [...sniffed, 'guess'];
  const frame = document.createElement('iframe');
  frame.src = '%(frame)s';
  document.body.appendChild(frame);
  await new Promise((r) => frame.addEventListener('load', r));
  frame.contentWindow.postMessage(candidates, '*');
  report('app', {mine: mine, back: back,
                 secrets: sniffed.filter((v) => /^[0-9a-f]{48}$/.test(v))});
"""

FRAME_WITH_STOLEN_STRINGS = """
  const candidates = await new Promise((r) => window.addEventListener('message', (e) => r(e.data)));
  const channel = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.velomarkBridge;
  const answers = [];
  for (const secret of channel ? candidates : []) {
    answers.push(await outcome(() => channel.postMessage(JSON.stringify(
        {kind: 'call', name: 'setSetting', id: 7, secret: secret, args: '["stolen","yes"]'}))));
  }
  let parentDocument;
  try { parentDocument = typeof window.parent.document; } catch (e) { parentDocument = e.name; }
  report('frame', {tried: candidates.length, channel: Boolean(channel), answers: answers,
                   parentDocument: parentDocument});
"""


def test_a_page_that_replaces_built_ins_sees_no_secret_and_its_frames_cannot_call(display, tmp_path):
    with AppServer(host="127.0.0.2", routes={"/frame.html": page(FRAME_WITH_STOLEN_STRINGS)}) as evil:
        script = SNIFFING_PAGE % {"frame": evil.url("/frame.html")}
        with AppServer(routes={"/app.html": page(script)}) as server:
            run = ClientRun(display, tmp_path, url=server.url("/app.html"))
            with run:
                app = server.wait_result("app")
                frame = evil.wait_result("frame")
        # The bridge works for the page whatever it replaced, and nothing
        # that passed through its replacements was the page's secret.
        assert app == {"mine": {"undefined": True}, "back": {"ok": "ok"}, "secrets": []}
        assert frame["tried"] > 0 and frame["parentDocument"] == "SecurityError"
        assert frame["channel"] is False and frame["answers"] == []
        assert ini_value(run.ini_text(), "WebApp", "mine") == "ok"
        assert ini_value(run.ini_text(), "WebApp", "stolen") is None


def test_binding_again_replaces_and_unbinding_removes_also_on_the_open_page(display, tmp_path):
    # The window host's sendLog rebinds getSetting and unbinds getHostInfo.
    script = """
      const n = Number(sessionStorage.getItem('loads') || 0) + 1;
      sessionStorage.setItem('loads', n);
      if (n === 1) {
        await report('before', {get: await outcome(() => window.getSetting('k', 'd')),
                                info: typeof window.getHostInfo});
        await window.sendLog();
      }
      await report('after', {get: await outcome(() => window.getSetting('k', 'd')),
                             info: typeof window.getHostInfo, load: n});
      if (n === 1) location.reload();
    """
    with AppServer(routes={"/app.html": page(script)}) as server:
        run = ClientRun(display, tmp_path, url=server.url("/app.html"))
        with run:
            assert server.wait_result("before") == {"get": {"ok": "d"}, "info": "function"}
            # The open page sees the change at once, and the next page keeps it.
            assert server.wait_result("after", count=1) == {"get": {"ok": "replaced"}, "info": "undefined", "load": 1}
            assert server.wait_result("after", count=2) == {"get": {"ok": "replaced"}, "info": "undefined", "load": 2}


def test_later_answers_resolve_reject_or_drop_and_keep_the_call_order(display, tmp_path):
    # requestData is the window host's later answer, given 300 ms after the
    # call; the getSetting called after it runs only once it is answered.
    script = """
      const calls = [outcome(() => window.requestData('resolve', '"done"')),
                     outcome(() => window.requestData('reject', 'refused')),
                     outcome(() => window.requestData('drop', '')),
                     outcome(() => window.getSetting('k', 'after'))];
      report('later', await Promise.all(calls));
    """
    with AppServer(routes={"/app.html": page(script)}) as server:
        run = ClientRun(display, tmp_path, url=server.url("/app.html"))
        with run:
            assert server.wait_result("later") == [
                {"ok": "done"}, {"error": "refused"}, {"undefined": True}, {"ok": "after"}]


def test_long_arguments_arrive_whole_and_in_their_order(display, tmp_path):
    # Arguments longer than a part go over in several messages. After the
    # one 'x', every part boundary falls inside a surrogate pair; the
    # getSetting called at once after the long setSetting must see its value.
    script = """
      const value = 'x' + '\\u{1F600}'.repeat(150000) + '\\u00e4';
      const calls = [window.setSetting('long', value), window.getSetting('long', 'none'),
                     window.getHostInfo(JSON.stringify({value: value}))];
      const [, got, echoed] = await Promise.all(calls);
      report('long', {got: got === value, echoed: echoed.value === value, length: got.length});
    """
    value = "x" + "\U0001F600" * 150000 + "\u00e4"
    with AppServer(routes={"/app.html": page(script)}) as server:
        run = ClientRun(display, tmp_path, url=server.url("/app.html"))
        with run:
            assert server.wait_result("long") == {"got": True, "echoed": True, "length": 300002}
        assert ini_value(run.ini_text(), "WebApp", "long") == value
