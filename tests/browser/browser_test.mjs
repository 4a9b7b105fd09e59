// Drives Debian's Chromium (headless, through playwright-core) against a running installation.
//
//   node browser_test.mjs SCENARIO CONFIG_JSON
//
// CONFIG_JSON: {"folder": installation folder, "home": HOME for the browser (its NSS database
// decides what is trusted), "version": expected version text, "card": expected card number,
// "cardCode": expected card outcome code of the test page, "shots": folder for screenshots}
//
// Scenarios:
//   trusted     the test page from another origin, as a local file and as served by the server,
//               and a page author's own script, all read the version and the card number
//   card-error  the test page shows the card outcome "cardCode" with advice for the user
//   untrusted   without the CA in the NSS database the server's certificate is refused
//   no-server   nothing listens: the page tells the user the service is unreachable
// Exits 0 when every check of the scenario held; prints what it saw as JSON.
import assert from "node:assert/strict";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import http from "node:http";
import { tmpdir } from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

const SERVICE = "https://localhost:32860";
const [scenario, configText] = process.argv.slice(2);
const config = JSON.parse(configText ?? "{}");
const seen = { scenario };

// A web site of its own origin (http://127.0.0.1:PORT) that serves the installed test page and a
// page author's minimal page.
function startOtherOrigin() {
  const envTest = readFileSync(path.join(config.folder, "EnvTest.html"));
  const author = `<!DOCTYPE html><meta charset="utf-8"><title>author</title><script>
    async function read(host, command) {
      try {
        const r = await fetch("https://" + host + ":32860/?" + command, { cache: "no-store" });
        return await r.text();
      } catch (e) { return "failed: " + e.name; }
    }
    async function preflighted() {
      try {
        await fetch("${SERVICE}/?getversion", { headers: { "X-Custom": "1" } });
        return "passed";
      } catch (e) { return "failed: " + e.name; }
    }
    </script>`;
  const server = http.createServer((req, res) => {
    if (req.url === "/EnvTest.html") {
      res.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
      res.end(envTest);
    } else if (req.url === "/author.html") {
      res.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
      res.end(author);
    } else {
      res.writeHead(404);
      res.end();
    }
  });
  return new Promise((resolve) => {
    server.listen(0, "127.0.0.1", () => resolve({ server, origin: `http://127.0.0.1:${server.address().port}` }));
  });
}

async function launch(home) {
  const profile = mkdtempSync(path.join(tmpdir(), "zivra-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    env: { ...process.env, HOME: home },
    viewport: { width: 900, height: 1000 },
    locale: "zh-TW",
  });
  return { context, close: async () => { await context.close(); rmSync(profile, { recursive: true, force: true }); } };
}

// Opens the test page at `url`, waits until its checks have run and returns what it shows.
async function runTestPage(context, url, shot) {
  const page = await context.newPage();
  await page.goto(url);
  await page.evaluate(() => window.envTestDone);
  const result = await page.evaluate(() => ({
    version: document.getElementById("version").textContent,
    serverState: document.getElementById("server").dataset.state,
    serverCode: document.getElementById("server").dataset.code,
    serverStatus: document.getElementById("server-status").textContent,
    card: document.getElementById("card-number").textContent,
    cardState: document.getElementById("card").dataset.state,
    cardCode: document.getElementById("card").dataset.code,
    cardStatus: document.getElementById("card-status").textContent,
    serverAdvice: document.querySelectorAll("#server-help li").length,
    cardAdvice: document.querySelectorAll("#card-help li").length,
  }));
  if (config.shots) await page.screenshot({ path: path.join(config.shots, shot), fullPage: true });
  await page.close();
  return result;
}

async function navigationError(context, url) {
  const page = await context.newPage();
  try {
    await page.goto(url);
    return "loaded: " + (await page.content()).slice(0, 80);
  } catch (e) {
    return String(e.message).split("\n")[0];
  } finally {
    await page.close();
  }
}

async function trusted(context, origin) {
  const pages = {
    otherOrigin: `${origin}/EnvTest.html`,
    localFile: "file://" + path.join(config.folder, "EnvTest.html"),
    served: `${SERVICE}/EnvTest.html`,
  };
  for (const [name, url] of Object.entries(pages)) {
    const r = await runTestPage(context, url, `envtest-${name}.png`);
    seen[name] = r;
    assert.equal(r.serverCode, "ok", `${name}: ${r.serverStatus}`);
    assert.equal(r.version, config.version, name);
    assert.equal(r.cardCode, "ok", `${name}: ${r.cardStatus}`);
    assert.equal(r.card, config.card, name);
  }

  // A page author's script, from another origin, on all three loopback names; a request that
  // needs a CORS pre-flight fails, as page authors are told.
  const page = await context.newPage();
  await page.goto(`${origin}/author.html`);
  seen.author = await page.evaluate(async () => ({
    localhost: await read("localhost", "GetCardID"),
    ipv4: await read("127.0.0.1", "GetCardID"),
    ipv6: await read("[::1]", "GetCardID"),
    version: await read("localhost", "getversion"),
    preflighted: await preflighted(),
  }));
  await page.close();
  for (const name of ["localhost", "ipv4", "ipv6"]) assert.equal(seen.author[name], config.card, name);
  assert.equal(seen.author.version, config.version);
  assert.match(seen.author.preflighted, /^failed/);
}

async function cardError(context, origin) {
  const r = await runTestPage(context, `${origin}/EnvTest.html`, `envtest-${config.cardCode}.png`);
  seen.otherOrigin = r;
  assert.equal(r.serverCode, "ok", r.serverStatus);
  assert.equal(r.cardState, "error");
  assert.equal(r.cardCode, config.cardCode, r.cardStatus);
  assert.equal(r.card, "—");
  assert.ok(r.cardAdvice > 0, "no advice for the user");
}

async function untrusted(context, origin) {
  seen.navigation = await navigationError(context, `${SERVICE}/?getversion`);
  assert.match(seen.navigation, /ERR_CERT_AUTHORITY_INVALID/);
  const r = await runTestPage(context, `${origin}/EnvTest.html`, "envtest-untrusted.png");
  seen.otherOrigin = r;
  assert.equal(r.serverCode, "unreachable", r.serverStatus);
  assert.equal(r.cardCode, "skipped");
  assert.ok(r.serverAdvice >= 2, "no advice for the user");
}

async function noServer(context) {
  seen.navigation = await navigationError(context, `${SERVICE}/?getversion`);
  assert.match(seen.navigation, /ERR_CONNECTION_REFUSED/);
  const r = await runTestPage(context, "file://" + path.join(config.folder, "EnvTest.html"), "envtest-no-server.png");
  seen.localFile = r;
  assert.equal(r.serverCode, "unreachable", r.serverStatus);
}

const scenarios = { trusted, "card-error": cardError, untrusted, "no-server": noServer };
if (!scenarios[scenario]) {
  console.error(`unknown scenario ${scenario}; one of ${Object.keys(scenarios).join(", ")}`);
  process.exit(2);
}

const { server, origin } = await startOtherOrigin();
const browser = await launch(config.home);
let failed = false;
try {
  await scenarios[scenario](browser.context, origin);
} catch (e) {
  failed = true;
  seen.failure = e.message;
} finally {
  await browser.close();
  server.close();
}
console.log(JSON.stringify(seen, null, 2));
process.exit(failed ? 1 : 0);
