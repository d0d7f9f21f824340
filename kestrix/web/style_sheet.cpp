// The style sheet of the pages: plain, readable, and enough without it.
#include "kestrix/web/web_routes.h"

namespace kestrix::web {

const char* const kStyleSheet = R"css(
body { font-family: system-ui, sans-serif; margin: 0; color: #1d2330; background: #f7f8fa; }
nav { display: flex; gap: 1.2em; align-items: center; padding: .6em 1.5em; background: #1f3a5f; }
nav a { color: #fff; text-decoration: none; font-weight: 600; }
nav a:hover, nav a:focus { text-decoration: underline; }
nav .user { margin-left: auto; color: #d6e2f0; }
nav button { font: inherit; }
form.inline { display: inline; margin: 0; }
main { padding: 1em 1.5em 3em; max-width: 80em; }
h1 { font-size: 1.4em; margin: .4em 0 .8em; }
p.notice { background: #e6f4ea; border-left: 4px solid #2e7d32; padding: .5em .8em; }
p.error { background: #fdecea; border-left: 4px solid #c62828; padding: .5em .8em; }
p.hint { color: #555; margin: .2em 0; }
form#login { display: grid; gap: .8em; max-width: 22em; }
form#login label { display: grid; gap: .2em; }
form#filter { display: flex; flex-wrap: wrap; gap: .6em 1em; align-items: end; margin-bottom: 1em; }
form#filter label { display: grid; gap: .2em; font-size: .9em; }
input, select, button { font: inherit; padding: .25em .4em; }
table.documents { border-collapse: collapse; width: 100%; background: #fff; }
table.documents th, table.documents td { border-bottom: 1px solid #dde2ea; padding: .4em .6em; text-align: left; vertical-align: top; }
table.documents th { background: #eef1f6; white-space: nowrap; }
table.documents th a.sort { color: inherit; }
table.documents td.actions form { display: inline; }
nav.pages { display: flex; gap: 1em; margin-top: .8em; }
pre { background: #fff; border: 1px solid #dde2ea; padding: .8em; overflow: auto; }
section { margin: 1.2em 0; }
section h2 { font-size: 1.15em; margin: 0 0 .5em; }
section table { border-collapse: collapse; background: #fff; }
section th, section td { border-bottom: 1px solid #dde2ea; padding: .3em .6em; text-align: left; vertical-align: top; }
section th { background: #eef1f6; }
section#routing dl { display: grid; grid-template-columns: max-content 1fr; gap: .2em 1.2em; margin: 0; }
section#routing dt { font-weight: 600; }
section#routing dd { margin: 0; }
section#actions { display: flex; flex-wrap: wrap; gap: .5em 1em; align-items: center; }
section#actions form { margin: 0; }
iframe.rendering { width: 100%; height: 36em; border: 1px solid #dde2ea; background: #fff; }
)css";

}  // namespace kestrix::web
