// The lists' generic hiding data, the same for every page of the profile:
// one copy in the browser and one per renderer, instead of one in each
// tab's own script. Runs at document creation in the main world; the tab's
// element hiding (elementhiding.js) takes it from here, whichever of the two
// runs first. The browser runs it again in live pages when the lists change.
(function () {
    'use strict';
    const data = {
        // The single id and class selectors' sorted 48-bit hashes
        // (FilterEngine::selectorHash: a and b of 24 bits each), eight
        // digits of six bits each.
        table: "@TABLE@",
        // The generic selectors that are not one id or class.
        complex: "@COMPLEX@"
    };
    Object.defineProperty(window, Symbol.for('orvex.genericHiding'), { value: data, configurable: true });
    const apply = window[Symbol.for('orvex.elementHiding')];
    if (apply && apply.generic)
        apply.generic(data);
})();
