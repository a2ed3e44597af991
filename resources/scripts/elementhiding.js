// Hides what the filter lists name on the page. Runs at document creation,
// in the main world, as part of the tab's page protection script, so its
// sheet is in place before the first paint.
//
// The page's own rules (its domain's) and the lists' few generic selectors
// with attributes or combinators go into one constructed style sheet at
// once. The thousands of generic selectors that name a single id or class
// come as a table of their hashes: every id and class the page shows is
// looked up as the parser adds it (a mutation observer runs before the
// next paint), and only the selectors the page has are added to the sheet.
// The generic part is the same for every page: the profile's own script
// (generichiding.js) hands it over, so that each tab does not carry a copy.
// The browser runs this script again in a live page whose rules changed (a
// same-document navigation, new lists): it then only hands over its data.
(function () {
    'use strict';
    const hook = Symbol.for('orvex.elementHiding');
    const shared = Symbol.for('orvex.genericHiding');
    const data = {
        // The generic selectors that are not one id or class, when the
        // page's exceptions keep some of them (null: the profile's).
        complex: "@COMPLEX@",
        // Whether the generic selectors apply to the page.
        generic: "@GENERIC@",
        // Generic selectors the page's exceptions keep.
        excluded: "@EXCLUDED@",
        // The page's own rules.
        extra: "@EXTRA@",
        // The site this was made for: a document of another site keeps to
        // the generic part until the browser sends its own.
        host: "@HOST@",
        // Which of the browser's versions this is: a live document that
        // runs the current one needs nothing more.
        revision: "@REVISION@"
    };
    if (window[hook]) {
        window[hook](data);
        return;
    }

    // The page may replace these; ours are kept from before it runs.
    const Sheet = CSSStyleSheet;
    const replaceSync = CSSStyleSheet.prototype.replaceSync;
    const insertRule = CSSStyleSheet.prototype.insertRule;
    const adopted = Object.getOwnPropertyDescriptor(Document.prototype, 'adoptedStyleSheets');
    const imul = Math.imul;
    const escape = CSS.escape;

    // The profile's generic data: {table, complex}; the table is the sorted
    // 48-bit hashes (a and the high half of b), eight digits of six bits
    // each, '0' to 'p' without '\\'.
    let generic = window[shared] || null;
    let current = null;
    let table = '';
    let excluded = new Set();
    let active = false;
    let base = '';
    const seen = new Set();
    const sheet = new Sheet();

    function entry(at) {
        let value = 0;
        for (let i = at; i < at + 8; ++i) {
            const c = table.charCodeAt(i);
            value = value * 64 + c - (c > 92 ? 49 : 48);
        }
        return value;
    }

    // FilterEngine::selectorHash over the UTF-16 code units.
    function finish(h) {
        h ^= h >>> 16;
        h = imul(h, 0x85ebca6b);
        h ^= h >>> 13;
        h = imul(h, 0xc2b2ae35);
        h ^= h >>> 16;
        return h >>> 0;
    }
    function listed(key) {
        let h1 = (0x9e3779b9 ^ key.length) | 0, h2 = 0x85ebca6b | 0;
        for (let i = 0; i < key.length; ++i) {
            const c = key.charCodeAt(i);
            h1 = imul(h1 ^ c, 0xcc9e2d51);
            h1 = (h1 << 15) | (h1 >>> 17);
            h2 = imul(h2 ^ c, 0x1b873593);
            h2 = (h2 << 13) | (h2 >>> 19);
            h2 = (h2 + h1) | 0;
        }
        // Exact in a double: 48 bits.
        const wanted = finish(h1 ^ (h2 >>> 7)) * 65536 + (finish((h2 + h1) | 0) >>> 16);
        let low = 0, high = (table.length >> 3) - 1;
        while (low <= high) {
            const mid = (low + high) >> 1;
            const value = entry(mid << 3);
            if (value === wanted)
                return true;
            if (value < wanted)
                low = mid + 1;
            else
                high = mid - 1;
        }
        return false;
    }

    function consider(key) {
        if (seen.has(key))
            return;
        seen.add(key);
        if (!active || excluded.has(key) || !listed(key))
            return;
        const selector = key.charAt(0) + escape(key.slice(1));
        try {
            insertRule.call(sheet, selector + ' { display: none !important; }', sheet.cssRules.length);
        } catch (e) {
        }
    }
    function look(element) {
        if (element.id)
            consider('#' + element.id);
        const classes = element.classList;
        for (let i = 0; classes && i < classes.length; ++i)
            consider('.' + classes[i]);
    }
    function lookInside(root) {
        look(root);
        if (root.firstElementChild) {
            const inside = root.querySelectorAll('[id], [class]');
            for (let i = 0; i < inside.length; ++i)
                look(inside[i]);
        }
    }

    function adopt() {
        const sheets = adopted.get.call(document);
        if (sheets.indexOf(sheet) === -1)
            adopted.set.call(document, sheets.concat([sheet]));
    }

    function apply(next) {
        current = next;
        apply.revision = next.revision;
        const own = !next.host || next.host === location.hostname;
        const useGeneric = next.generic && own && !!generic;
        table = useGeneric ? generic.table : '';
        excluded = new Set(next.excluded);
        active = useGeneric;
        const complex = next.complex !== null ? next.complex : (generic ? generic.complex : '');
        base = (useGeneric ? complex : '') + (own ? next.extra : '');
        try {
            replaceSync.call(sheet, base);
        } catch (e) {
        }
        // Ids and classes seen before are looked up again under the new table.
        seen.clear();
        if (document.documentElement)
            lookInside(document.documentElement);
        adopt();
    }
    // The profile's data, when it comes after this script or changes.
    apply.generic = function (next) {
        generic = next;
        if (current)
            apply(current);
    };
    window[hook] = apply;
    apply(data);

    new MutationObserver(function (mutations) {
        for (let m = 0; m < mutations.length; ++m) {
            const mutation = mutations[m];
            if (mutation.type === 'attributes') {
                if (mutation.target.nodeType === 1)
                    look(mutation.target);
                continue;
            }
            const nodes = mutation.addedNodes;
            for (let i = 0; i < nodes.length; ++i) {
                if (nodes[i].nodeType === 1)
                    lookInside(nodes[i]);
            }
        }
    }).observe(document, { childList: true, subtree: true, attributes: true, attributeFilter: ['id', 'class'] });
    // A page that sets its own adopted sheets replaces the list: ours goes back in.
    document.addEventListener('DOMContentLoaded', adopt);
    window.addEventListener('load', adopt);
})();
