// Reference decisions for the filter comparison (bench/compare-filters.sh):
// the same URL<TAB>PAGE_URL<TAB>TYPE lines decided by @ghostery/adblocker,
// a separate engine used only as a yardstick. Output per line: block<TAB>rule
// or allow[<TAB>exception], like orvex-filtercheck --no-builtin.
// Usage: node reference-decide.mjs MODULE_DIR LIST... < requests.tsv
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';
import { createInterface } from 'node:readline';

const [moduleDir, ...lists] = process.argv.slice(2);
const require = createRequire(moduleDir + '/');
const { FiltersEngine, Request } = require('@ghostery/adblocker');

const text = lists.map((f) => readFileSync(f, 'utf8')).join('\n');
const engine = FiltersEngine.parse(text, { debug: true, enableOptimizations: false, loadCosmeticFilters: false });
const show = (f) => (f.rawLine !== undefined ? f.rawLine : f.toString());

// A page that an explicit $document exception allow-lists passes everything,
// as the extension built on this engine does.
const pageAllowed = new Map();
function documentException(page) {
  if (!page) return undefined;
  if (!pageAllowed.has(page)) {
    const req = Request.fromRawDetails({ url: page, sourceUrl: page, type: 'main_frame' });
    const exc = engine.exceptions.match(req, () => false);
    const explicit = exc && /[$,](document|doc)(,|$)/.test(show(exc));
    pageAllowed.set(page, explicit ? exc : undefined);
  }
  return pageAllowed.get(page);
}

const out = [];
const rl = createInterface({ input: process.stdin, crlfDelay: Infinity });
for await (const line of rl) {
  const [url, page, type] = line.split('\t');
  const doc = documentException(page);
  if (doc) {
    out.push('allow\t' + show(doc));
    continue;
  }
  const req = Request.fromRawDetails({ url, sourceUrl: page || '', type });
  const r = engine.match(req);
  if (r.match) out.push('block\t' + show(r.filter));
  else if (r.exception) out.push('allow\t' + show(r.exception));
  else out.push('allow');
}
process.stdout.write(out.join('\n') + '\n');
