// Puts the page together as one file: page.html, with the parts that the layout gives (from
// the markup program, run here under Node), the style and the script inline, and a policy
// that lets in exactly that style and that script and nothing from anywhere else.
//
// usage: node make_page.mjs PAGE.html MARKUP.js PAGE.css SCRIPT.js OUTPUT.html
import {execFileSync} from 'node:child_process';
import {createHash} from 'node:crypto';
import {readFileSync, renameSync, writeFileSync} from 'node:fs';

const [templatePath, markupProgram, stylePath, scriptPath, outputPath] = process.argv.slice(2);
if (!outputPath) {
  throw new Error('usage: node make_page.mjs PAGE.html MARKUP.js PAGE.css SCRIPT.js OUTPUT.html');
}

const parts = JSON.parse(execFileSync(process.execPath, [markupProgram], {encoding: 'utf8'}));
parts.style = readFileSync(stylePath, 'utf8') + parts.layout_style;
parts.script = readFileSync(scriptPath, 'utf8');

// Inline, the script and the style end at the first closing tag, and an HTML comment opener
// changes how a script is read: neither may hold them.
if (/<\/script|<!--/i.test(parts.script) || /<\/style/i.test(parts.style)) {
  throw new Error('the script or the style holds text that would end it early in the page');
}

function hash(text) {
  return `'sha256-${createHash('sha256').update(text, 'utf8').digest('base64')}'`;
}
// WebAssembly is compiled from bytes in the script, which a policy allows by
// 'wasm-unsafe-eval' alone, not by allowing eval. The empty icon keeps browsers from asking a
// server for /favicon.ico.
parts.policy = [
  "default-src 'none'",
  `script-src ${hash(parts.script)} 'wasm-unsafe-eval'`,
  `style-src ${hash(parts.style)}`,
  'img-src data:',
].join('; ');

const page = readFileSync(templatePath, 'utf8').replace(/\{\{(\w+)\}\}/g, (placeholder, key) => {
  if (!Object.hasOwn(parts, key)) {
    throw new Error(`page.html names a part that nothing gives: ${placeholder}`);
  }
  return parts[key];
});
// Written whole or not at all, so a failed build leaves no half page behind.
writeFileSync(`${outputPath}.part`, page);
renameSync(`${outputPath}.part`, outputPath);
