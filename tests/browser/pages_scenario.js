'use strict';
// One walk through the pages of `kestrix serve` in headless Chromium: a recipient and a
// sender, each in a browser context of his own (own cookies). tests/apps/browser sets up the
// site, starts the service and passes what the walk needs in the environment (KX_...).
// Every step prints "ok <step>"; one that fails prints why, the address and text of the
// walk's page, and leaves a screenshot of it in KX_ARTIFACTS; the steps that do not need the
// failed one still run, those that do are named as not run, and the exit status is 1.
// Elements are found by their ids, names, classes and form actions, never by their labels,
// which are in the user's language.

const { chromium } = require('playwright-core');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

function setting(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set`);
  return value;
}

const base = setting('KX_BASE');
const artifacts = setting('KX_ARTIFACTS');
const type = setting('KX_TYPE');
const docId = setting('KX_DOC');
const budgetMs = Number(process.env.KX_BUDGET_MS || 60000);

class Failure extends Error {}
function check(condition, message) {
  if (!condition) throw new Failure(message);
}

const open = new Map(); // name -> page, for the report of a failure
let step = 'starting';
const started = Date.now();

let reports = 0;
async function report(error) {
  reports++;
  const why = error instanceof Failure ? error.message : error.stack || error;
  console.log(`FAILED at step "${step}" after ${Date.now() - started} ms: ${why}`);
  for (const [name, page] of open) {
    const file = path.join(artifacts, `${reports}-${name}.png`);
    try {
      await page.screenshot({ path: file, fullPage: true, timeout: 5000 });
      const text = await page.evaluate(() => document.body ? document.body.innerText : document.documentElement.outerHTML);
      fs.writeFileSync(path.join(artifacts, `${reports}-${name}.txt`), text);
      console.log(`--- ${name}: ${page.url()} (screenshot ${file})\n${text.slice(0, 3000)}\n---`);
    } catch (e) {
      console.log(`--- ${name}: ${page.url()} (no screenshot: ${e.message})`);
    }
  }
}

// Runs one step when what it needs went well (`ready`), catching its failure: the steps
// after it that do not need it still run. Answers whether it passed.
const results = [];
async function run(name, ready, body) {
  if (!ready) {
    results.push({ name, state: 'not run' });
    console.log(`-- not run: ${name} (an earlier step it needs failed)`);
    return false;
  }
  step = name;
  const t = Date.now();
  try {
    await body();
  } catch (error) {
    results.push({ name, state: 'failed' });
    await report(error);
    return false;
  }
  results.push({ name, state: 'ok' });
  console.log(`ok ${name} (${Date.now() - t} ms)`);
  return true;
}

// The answer of a navigation that a click or a submit starts.
async function navigating(page, action) {
  const [response] = await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), action()]);
  return response;
}

function pathAndQuery(url) {
  const u = new URL(url, base);
  return u.pathname + u.search;
}

// Whether two addresses name the same page: path and query parameters, in any order.
function samePage(a, b) {
  const key = url => {
    const u = new URL(url, base);
    return u.pathname + '?' + [...u.searchParams].map(([n, v]) => `${n}=${v}`).sort().join('&');
  };
  return key(a) === key(b);
}

// Where a request for `target` without a session ends: the log-in page, which names the
// target as the page to go on to.
async function expectLoginFor(page, target) {
  const response = await page.goto(new URL(target, base).href);
  const landed = new URL(page.url());
  check(landed.pathname === '/login', `${target} without a session led to ${page.url()}, not to /login`);
  const next = landed.searchParams.get('next');
  check(next && next.startsWith('/') && samePage(next, target),
    `the log-in page goes on to ${next}, not to ${pathAndQuery(target)}`);
  const redirect = response.request().redirectedFrom();
  check(redirect && (await redirect.response()).status() === 303, `${target} without a session did not answer 303`);
  const form = page.locator('form#login[method="post"][action="/login"]');
  check(await form.count() === 1, 'the log-in page has no form#login posting to /login');
  for (const input of ['input[name="login"]', 'input[name="password"]', 'input[type="hidden"][name="next"]',
    'input[type="hidden"][name="csrf"]']) {
    check(await form.locator(input).count() === 1, `the log-in form lacks ${input}`);
  }
  check(samePage(await form.locator('input[name="next"]').inputValue(), target),
    'the log-in form does not carry the page to go on to');
  return form;
}

async function logIn(page, form, login, password) {
  await form.locator('input[name="login"]').fill(login);
  await form.locator('input[name="password"]').fill(password);
  return navigating(page, () => form.locator('[type="submit"]').click());
}

function documentPath(id, senderMode) {
  return `/document?DocID=${id}&DocTypeID=${encodeURIComponent(type)}&SenderMode=${senderMode}`;
}

// The rows of a box for the document type, through the box's own filter form.
async function openBox(page, box) {
  await page.goto(`${base}/${box}`);
  check(new URL(page.url()).pathname === `/${box}`, `/${box} led to ${page.url()}`);
  const filter = page.locator('form#filter[method="get"]');
  check(await filter.count() === 1, `/${box} has no form#filter`);
  const select = filter.locator('select[name="type"]');
  check(await select.locator(`option[value="${type}"]`).count() === 1, `the type filter of /${box} offers no ${type}`);
  if (await select.inputValue() !== type) {
    await select.selectOption(type);
    await navigating(page, () => filter.evaluate(f => f.requestSubmit()));
    check(new URL(page.url()).searchParams.get('type') === type, `the filter of /${box} did not ask for type ${type}`);
    check(await page.locator('form#filter select[name="type"]').inputValue() === type,
      `/${box}?type=${type} does not show its filter set to ${type}`);
  }
  return page.locator('table.documents tbody tr');
}

// The rows among `rows` that link to document `id`.
function rowOf(rows, id) {
  return rows.filter({ has: rows.page().locator(`a.doc[href*="DocID=${id}&"]`) });
}

// What an action answered: 303 back to a page that shows a notice and no error.
async function expectDone(page, response, action) {
  const redirect = response.request().redirectedFrom();
  const status = redirect ? (await redirect.response()).status() : response.status();
  const errors = await page.locator('p.error').allInnerTexts();
  check(status === 303, `${action} answered ${status}, not 303${errors.length ? ': ' + errors.join(' ') : ''}`);
  check(errors.length === 0, `${action} failed: ${errors.join(' ')}`);
  check(await page.locator('p.notice').count() >= 1, `no p.notice after ${action}`);
}

// Waits until `condition` (async) holds, up to `ms`; answers whether it did. For what the
// service may finish a moment after the page answered.
async function eventually(condition, ms = 5000) {
  const end = Date.now() + ms;
  for (;;) {
    if (await condition()) return true;
    if (Date.now() >= end) return false;
    await new Promise(resolve => setTimeout(resolve, 250));
  }
}

// A state-changing post the page itself would make, without the page: fields as given.
async function post(page, action, fields) {
  return page.request.post(`${base}${action}`, { form: fields, maxRedirects: 0, failOnStatusCode: false });
}

async function main() {
  const timer = setTimeout(async () => {
    await report(new Error(`the scenario outlasted its budget of ${budgetMs} ms`));
    process.exit(1);
  }, budgetMs);

  const browser = await chromium.launch({
    executablePath: setting('KX_CHROMIUM'),
    headless: true,
    // Chromium's own sandbox needs an unprivileged user; the pages' sandboxes are Blink's.
    args: (process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : []).concat(['--disable-dev-shm-usage']),
  });
  // The two walks do not depend on each other: each runs with its own cookies.
  try {
    for (const walk of [recipient, sender]) {
      try {
        await walk(browser);
      } catch (error) {
        results.push({ name: `${walk.name}: ${step}`, state: 'failed' });
        await report(error);
      }
      for (const page of open.values()) await page.context().close().catch(() => {});
      open.clear();
    }
  } finally {
    clearTimeout(timer);
    await browser.close().catch(() => {});
  }
  const count = state => results.filter(r => r.state === state).length;
  console.log(`steps: ${count('ok')} ok, ${count('failed')} failed, ${count('not run')} not run`);
  return count('failed') + count('not run');
}

async function newPage(browser, name) {
  const context = await browser.newContext();
  context.setDefaultTimeout(10000);
  context.setDefaultNavigationTimeout(15000);
  const page = await context.newPage();
  open.set(name, page);
  return page;
}

async function recipient(browser) {
  const page = await newPage(browser, 'recipient');
  const dialogs = [];
  page.on('dialog', async dialog => {
    dialogs.push(dialog.message());
    await dialog.dismiss().catch(() => {});
  });
  const mailLink = setting('KX_MAIL_LINK');
  const senderMode = new URL(mailLink).searchParams.get('SenderMode');

  const fromMail = await run('the link of the notification mail leads through the log-in to the document', true,
    async () => {
      const form = await expectLoginFor(page, mailLink);
      const response = await logIn(page, form, setting('KX_RECIPIENT'), setting('KX_RECIPIENT_PASSWORD'));
      check(samePage(page.url(), mailLink), `after the log-in the page is ${page.url()}, not the mailed ${mailLink}`);
      check(response.status() === 200, `the mailed document answered ${response.status()}`);
      const session = (await page.context().cookies()).find(c => c.name === 'kestrix_session');
      check(session && session.httpOnly && session.sameSite !== 'None', 'no HTTP-only, same-site cookie kestrix_session');
    });
  // Without the mail's way in, the rest of the walk still has its user logged in.
  const loggedIn = fromMail || await run('logging in on the log-in page instead', true, async () => {
    const form = await expectLoginFor(page, '/inbox');
    await logIn(page, form, setting('KX_RECIPIENT'), setting('KX_RECIPIENT_PASSWORD'));
    check(new URL(page.url()).pathname === '/inbox', `after the log-in the page is ${page.url()}, not /inbox`);
  });

  const shown = await run('the document page shows every section and runs no script of the document', loggedIn,
    async () => {
      if (!fromMail) {
        const response = await page.goto(`${base}${documentPath(docId, senderMode)}`);
        check(response.status() === 200, `${documentPath(docId, senderMode)} answered ${response.status()}`);
      }
      for (const section of ['routing', 'publications', 'errors', 'history', 'attachments', 'rendering', 'xml']) {
        check(await page.locator(`section#${section}`).count() === 1, `the document page has no section#${section}`);
      }
      const xml = await page.locator('section#xml pre').innerText();
      check(xml.includes('PO-4711') && xml.includes('<script>'), `the XML section does not show the document as text: ${xml}`);
      const frame = page.locator('section#rendering iframe');
      check(await frame.count() === 1, 'the rendering is not in an iframe');
      const rendered = page.frameLocator('section#rendering iframe').locator('#order-ref');
      check((await rendered.innerText()).includes('PO-4711'), 'the rendering does not show the style sheet\'s HTML');
      await page.waitForTimeout(300); // a script would have run by now
      check(dialogs.length === 0, `the document's script opened a dialog: ${dialogs.join(', ')}`);
      for (const f of page.frames()) {
        const ran = await f.evaluate(() => window.kxScriptRan).catch(() => undefined);
        check(ran === undefined, `the document's script ran in ${f === page.mainFrame() ? 'the page' : 'a frame'}`);
      }
      const sandbox = await frame.getAttribute('sandbox');
      check(sandbox !== null && !sandbox.split(/\s+/).includes('allow-scripts'),
        `the rendering's iframe is not sandboxed against scripts (sandbox="${sandbox}")`);
    });

  await run('a post without a CSRF token is refused', loggedIn, async () => {
    const fields = { DocID: docId, DocTypeID: type, SenderMode: senderMode };
    let answer = await post(page, '/document/delete', fields);
    check(answer.status() === 403, `/document/delete without csrf answered ${answer.status()}`);
    answer = await post(page, '/document/accept', { ...fields, csrf: 'forged' });
    check(answer.status() === 403, `/document/accept with a forged csrf answered ${answer.status()}`);
  });

  await run('accepting the document', shown, async () => {
    const form = page.locator('form[method="post"][action="/document/accept"]').first();
    check(await form.count() === 1, 'the document page has no form posting to /document/accept');
    for (const [name, value] of [['DocID', docId], ['DocTypeID', type]]) {
      check(await form.locator(`input[type="hidden"][name="${name}"]`).inputValue() === value,
        `the accept form's ${name} is not ${value}`);
    }
    check(await form.locator('input[type="hidden"][name="csrf"]').count() === 1, 'the accept form has no csrf');
    check(await form.locator('input[type="hidden"][name="SenderMode"]').count() === 1, 'the accept form has no SenderMode');
    await expectDone(page, await navigating(page, () => form.locator('[type="submit"]').click()), '/document/accept');
  });

  await run('the inbox lists the document', loggedIn, async () => {
    const rows = await openBox(page, 'inbox');
    const row = rowOf(rows, docId);
    check(await row.count() === 1, `the inbox has no row linking to document ${docId}`);
    const href = await row.locator('a.doc').getAttribute('href');
    const link = new URL(href, base);
    check(link.pathname === '/document' && link.searchParams.get('DocTypeID') === type,
      `the inbox links the document as ${href}`);
    const inboxMode = link.searchParams.get('SenderMode');
    check(await rowOf(rows, setting('KX_FOREIGN_DOC')).count() === 0, 'the inbox lists another user\'s document');
    // Sorted by each of its columns in turn, the list keeps the document.
    const heads = await page.locator('table.documents th a.sort').count();
    check(heads > 0, 'the inbox has no sortable column heads (th a.sort)');
    for (let i = 0; i < heads; i++) {
      const head = page.locator('table.documents th a.sort').nth(i);
      const href = await head.getAttribute('href');
      const response = await navigating(page, () => head.click());
      check(response.status() === 200, `sorting by ${href} answered ${response.status()}`);
      check(await rowOf(page.locator('table.documents tbody tr'), docId).count() === 1,
        `sorted by ${href}, the inbox lost document ${docId}`);
    }
    // The inbox and the recipient's notification mail link the same view of the document.
    check(inboxMode === senderMode, `the inbox links the document with SenderMode=${inboxMode}, the recipient's ` +
      `notification mail with SenderMode=${senderMode}: the pages and the mails read the mode differently`);
  });

  // Against the 200 of his own document at the same address: the 404 is the refusal.
  await run('another partner\'s document by its number in the address: 404', shown, async () => {
    const own = await page.goto(`${base}${documentPath(docId, senderMode)}`);
    check(own.status() === 200, `his own ${documentPath(docId, senderMode)} answered ${own.status()}`);
    const response = await page.goto(`${base}${documentPath(setting('KX_FOREIGN_DOC'), senderMode)}`);
    check(response.status() === 404, `another user's document answered ${response.status()}`);
    check(!(await page.content()).includes(setting('KX_FOREIGN_REF')), 'the 404 page shows the other document');
  });

  await run('logging out', loggedIn, async () => {
    await page.goto(`${base}/inbox`);
    const form = page.locator('form[method="post"][action="/logout"]');
    check(await form.count() >= 1, 'the inbox has no form posting to /logout');
    check(await form.first().locator('input[type="hidden"][name="csrf"]').count() === 1, 'the log-out form has no csrf');
    await navigating(page, () => form.first().locator('[type="submit"]').click());
    check(new URL(page.url()).pathname === '/login', `after the log-out the page is ${page.url()}`);
    await expectLoginFor(page, '/inbox');
  });
}

async function sender(browser) {
  const page = await newPage(browser, 'sender');

  const loggedIn = await run('a wrong password is refused, the right one opens the inbox', true, async () => {
    let form = await expectLoginFor(page, '/inbox');
    const refused = await logIn(page, form, setting('KX_SENDER'), 'not-' + setting('KX_SENDER_PASSWORD'));
    check(new URL(page.url()).pathname === '/login', `a wrong password led to ${page.url()}`);
    check(refused.status() < 500, `a wrong password answered ${refused.status()}`);
    check(await page.locator('p.error').count() >= 1, 'no p.error for a wrong password');
    const inbox = await page.request.get(`${base}/inbox`, { maxRedirects: 0, failOnStatusCode: false });
    check(inbox.status() === 303, `after a wrong password /inbox answered ${inbox.status()}, not 303 to the log-in`);
    form = page.locator('form#login');
    await logIn(page, form, setting('KX_SENDER'), setting('KX_SENDER_PASSWORD'));
    check(new URL(page.url()).pathname === '/inbox', `after the log-in the page is ${page.url()}, not /inbox`);
  });

  const errorRow = async () => rowOf(await openBox(page, 'errors'), docId);
  const listed = await run('the error box shows the failed delivery', loggedIn, async () => {
    const row = await errorRow();
    check(await row.count() >= 1, `the error box has no row of document ${docId}`);
    for (const action of ['/errors/repush', '/errors/close', '/errors/delete']) {
      check(await row.first().locator(`form[method="post"][action="${action}"]`).count() === 1,
        `the error row has no form posting to ${action}`);
    }
  });

  await run('pushing the delivery again after its send method is corrected', listed, async () => {
    execFileSync(setting('KX_PROGRAM'),
      ['sendmethod', 'update', setting('KX_SEND_METHOD'), '--address', setting('KX_DELIVERY_FOLDER')],
      { stdio: ['ignore', 'ignore', 'inherit'] });
    const row = (await errorRow()).first();
    const form = row.locator('form[action="/errors/repush"]');
    check(await form.locator('input[type="hidden"][name="csrf"]').count() === 1, 'the repush form has no csrf');
    await expectDone(page, await navigating(page, () => form.locator('[type="submit"]').click()), '/errors/repush');
    const file = path.join(setting('KX_DELIVERY_FOLDER'), `order_${docId}.xml`);
    check(await eventually(() => fs.existsSync(file)), `the delivery ${file} was not made`);
    check(fs.readFileSync(file, 'utf8').includes('PO-4711'), `${file} is not the document`);
    // Asked for by the address the filter makes: a box left empty need not offer the filter.
    await page.goto(`${base}/errors?type=${encodeURIComponent(type)}`);
    check(await rowOf(page.locator('table.documents tbody tr'), docId).count() === 0,
      'the delivered error is still in the error box');
  });

  await run('uploading a document', loggedIn, async () => {
    const before = await (await openBox(page, 'outbox')).count();
    await page.goto(`${base}/upload`);
    const form = page.locator('form#upload[method="post"][action="/upload"][enctype="multipart/form-data"]');
    check(await form.count() === 1, 'the upload page has no multipart form#upload posting to /upload');
    check(await form.locator('input[type="hidden"][name="csrf"]').count() === 1, 'the upload form has no csrf');
    await form.locator('input[type="file"][name="document"]').setInputFiles(setting('KX_UPLOAD_FILE'));
    await expectDone(page, await navigating(page, () => form.locator('[type="submit"]').click()), '/upload');
    let after;
    check(await eventually(async () => (after = await (await openBox(page, 'outbox')).count()) === before + 1),
      `the outbox had ${before} rows before the upload and ${after} after`);
  });

  await run('logging out sends the inbox to the log-in page', loggedIn, async () => {
    await page.goto(`${base}/inbox`);
    const form = page.locator('form[method="post"][action="/logout"]').first();
    await navigating(page, () => form.locator('[type="submit"]').click());
    check(new URL(page.url()).pathname === '/login', `after the log-out the page is ${page.url()}`);
    await expectLoginFor(page, '/inbox');
  });
}

main().then(
  unfinished => {
    if (!unfinished) console.log(`every step passed in ${Date.now() - started} ms`);
    process.exit(unfinished ? 1 : 0);
  },
  async error => {
    await report(error);
    process.exit(1);
  });
