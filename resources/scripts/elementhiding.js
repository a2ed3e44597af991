// Hides what the filter lists name on the page. Runs at document creation,
// in the main world, as part of the tab's page protection script, so its
// sheet is in place before the first paint.
//
// The page's own rules (its domain's) and the lists' few generic selectors
// with attributes or combinators go into one constructed style sheet at
// once. The thousands of generic selectors that name a single id or class
// come as a table of their hashes: every id and class the page shows is
// looked up as the parser adds it (elementfeed.js hands it over from a
// mutation observer, which runs before the next paint), and only the
// selectors the page has are added to the sheet.
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
    const escape = CSS.escape;

    // The profile's generic data: {table, complex}; the table is the sorted
    // 48-bit hashes, a and b of 24 bits each, in eight digits of six bits,
    // '0' to 'p' without '\\'.
    let generic = window[shared] || null;
    let current = null;
    let table = '';
    let excluded = new Set();
    let active = false;
    let base = '';
    // The ids and classes whose rule is in the sheet.
    const added = new Set();
    // Ids and class attributes looked up under the current table.
    const seenIds = new Set();
    const seenClasses = new Set();
    const sheet = new Sheet();

    // Four digits of the table: a or b of the entry.
    function half(at) {
        let value = 0;
        for (let i = at; i < at + 4; ++i) {
            const c = table.charCodeAt(i);
            value = value * 64 + c - (c > 92 ? 49 : 48);
        }
        return value;
    }

    // FilterEngine::selectorHash over the UTF-16 code units of the prefix
    // ('#' or '.') and text[from, to): no string is made for a name that is
    // not listed, and nearly none are. Every value stays below 2^30, a small
    // integer to the script engine, so nothing is allocated even before the
    // function is optimized: pages look names up while they load.
    function listed(prefix, text, from, to) {
        let a = (0x9e3779 + to - from + 1) % 16777213, b = (0x7f4a7c + to - from + 1) % 16777199;
        for (let i = from - 1; i < to; ++i) {
            const c = i < from ? prefix : text.charCodeAt(i);
            a = ((a ^ c) * 63) % 16777213;
            b = ((b ^ c) * 61) % 16777199;
        }
        let low = 0, high = (table.length >> 3) - 1;
        while (low <= high) {
            const mid = (low + high) >> 1;
            const at = mid << 3;
            const first = half(at);
            const order = first !== a ? first - a : half(at + 4) - b;
            if (order === 0)
                return true;
            if (order < 0)
                low = mid + 1;
            else
                high = mid - 1;
        }
        return false;
    }

    // A document in quirks mode matches ids and classes in any case: its
    // own sheets fold their names to lower case, and ours, constructed and
    // so parsed in standards mode, must be folded here to match at all.
    // Known once the parser has begun: null until then.
    let quirks = null;
    function folded(selector) {
        let out = '', quote = '', bracket = false, name = false;
        for (let i = 0; i < selector.length; ++i) {
            let c = selector.charAt(i);
            if (c === '\\') {
                // An escaped character stays as written.
                out += c + selector.charAt(++i);
                continue;
            }
            if (quote) {
                if (c === quote)
                    quote = '';
            } else if (c === '"' || c === "'") {
                quote = c;
            } else if (bracket) {
                bracket = c !== ']';
            } else if (c === '[') {
                bracket = true;
                name = false;
            } else if (c === '.' || c === '#') {
                name = true;
            } else if (name) {
                const code = c.charCodeAt(0);
                if (code >= 65 && code <= 90)
                    c = String.fromCharCode(code + 32);
                else if (code < 128 && c !== '-' && c !== '_' && !(code >= 97 && code <= 122) && !(code >= 48 && code <= 57))
                    name = false;
            }
            out += c;
        }
        return out;
    }
    function foldSheet() {
        const rules = sheet.cssRules;
        const count = rules.length;
        for (let i = 0; i < count; ++i) {
            const text = rules[i].selectorText;
            const fold = text ? folded(text) : text;
            if (fold === text)
                continue;
            try {
                insertRule.call(sheet, fold + ' { display: none !important; }', sheet.cssRules.length);
            } catch (e) {
            }
        }
    }
    function checkMode() {
        if (quirks !== null || !document.documentElement)
            return;
        quirks = document.compatMode === 'BackCompat';
        if (quirks)
            foldSheet();
    }

    function consider(prefix, text, from, to) {
        if (!active || !listed(prefix, text, from, to))
            return;
        const name = text.slice(from, to);
        const key = String.fromCharCode(prefix) + name;
        if (added.has(key) || excluded.has(key))
            return;
        added.add(key);
        const selector = key.charAt(0) + escape(quirks ? name.toLowerCase() : name);
        try {
            insertRule.call(sheet, selector + ' { display: none !important; }', sheet.cssRules.length);
        } catch (e) {
        }
    }
    // The class attribute is split as classList splits it, without asking
    // for classList: that would give every element a token list to keep.
    function look(element) {
        if (!active)
            return;
        const id = element.id;
        if (id && !seenIds.has(id)) {
            seenIds.add(id);
            consider(35, id, 0, id.length);
        }
        // Most elements share their class attribute with others.
        const names = element.getAttribute('class');
        if (!names || seenClasses.has(names))
            return;
        seenClasses.add(names);
        let from = -1;
        for (let i = 0; i <= names.length; ++i) {
            const c = i < names.length ? names.charCodeAt(i) : 32;
            if (c === 32 || c === 9 || c === 10 || c === 12 || c === 13) {
                if (from >= 0)
                    consider(46, names, from, i);
                from = -1;
            } else if (from < 0) {
                from = i;
            }
        }
    }
    function lookInside(root) {
        look(root);
        const inside = root.querySelectorAll('[id], [class]');
        for (let i = 0; i < inside.length; ++i)
            look(inside[i]);
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
        if (quirks)
            foldSheet();
        else
            checkMode();
        // The sheet starts again: the page's ids and classes are looked up
        // again under the new table.
        added.clear();
        seenIds.clear();
        seenClasses.clear();
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

    window[Symbol.for('orvex.elements')](function (element) {
        if (quirks === null)
            checkMode();
        look(element);
    }, look);
    // A page that sets its own adopted sheets replaces the list: ours goes back in.
    document.addEventListener('DOMContentLoaded', adopt);
    window.addEventListener('load', adopt);
})();
