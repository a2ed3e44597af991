// Hides what the filter lists name, before the page is first painted: one
// constructed style sheet, adopted by the document when it is created. Runs
// in every frame, in a world of its own (the page can't reach the sheet or
// the hook). The browser rewrites this script as the tab navigates, since the
// sheet depends on the site, and runs it again in a live page whose sheet
// must change (a same-document navigation to an address the lists treat
// otherwise, newly loaded lists): it then only updates the sheet.
(function () {
    'use strict';
    const hook = Symbol.for('orvex.elementHiding');
    // The lists' generic sheet, the same for every site.
    const generic = "@GENERIC@";
    // Per host: [whether the generic sheet applies, what the host adds].
    const hosts = "@HOSTS@";
    // For hosts not listed (frames of other sites).
    const fallback = "@FALLBACK@";
    // Frames without a host of their own (about:blank) belong to the page.
    const pageHost = "@PAGE_HOST@";

    const host = location.hostname || pageHost;
    const entry = Object.prototype.hasOwnProperty.call(hosts, host) ? hosts[host] : fallback;
    if (window[hook]) {
        window[hook](entry[0], entry[1]);
        return;
    }

    let sheet = null;
    let current = null;
    function adopt() {
        if (sheet && document.adoptedStyleSheets.indexOf(sheet) === -1)
            document.adoptedStyleSheets = document.adoptedStyleSheets.concat([sheet]);
    }
    function apply(useGeneric, extra) {
        if (current && current[0] === useGeneric && current[1] === extra)
            return;
        current = [useGeneric, extra];
        const text = (useGeneric ? generic : '') + extra;
        if (!text && !sheet)
            return;
        try {
            if (!sheet)
                sheet = new CSSStyleSheet();
            sheet.replaceSync(text);
            adopt();
        } catch (e) {
        }
    }
    window[hook] = apply;
    apply(entry[0], entry[1]);
    // A page that sets its own adopted sheets replaces the list: ours goes back in.
    document.addEventListener('DOMContentLoaded', adopt);
    window.addEventListener('load', adopt);
})();
