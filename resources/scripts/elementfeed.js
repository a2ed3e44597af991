// Hands the elements the page adds, and those whose id, class, src or href
// changes, to the page scripts that look at elements, from one mutation
// observer: every observer gets its own record of each node the parser
// adds, and those records were much of what the scripts cost a renderer.
// The browser puts this before each script that uses it; a later copy finds
// the first one and does nothing. Runs at document creation in the main
// world.
(function () {
    'use strict';
    const key = Symbol.for('orvex.elements');
    if (window[key])
        return;
    const onAdded = [];
    const onChanged = [];
    let observer = null;

    function hand(checks, element) {
        for (let c = 0; c < checks.length; ++c)
            checks[c](element);
    }
    // A node added with its children (a subtree built elsewhere) brings
    // them in one record.
    function handInside(root) {
        hand(onAdded, root);
        if (root.firstElementChild) {
            const inside = root.querySelectorAll('*');
            for (let i = 0; i < inside.length; ++i)
                hand(onAdded, inside[i]);
        }
    }

    function observe() {
        const options = { childList: true, subtree: true };
        if (onChanged.length) {
            options.attributes = true;
            options.attributeFilter = ['id', 'class', 'src', 'href'];
        }
        observer.observe(document, options);
    }

    // added(element) for each element added to the document, and for each
    // element inside it; changed(element), optional, when its id, class,
    // src or href changes. Elements already there are the caller's to look
    // at.
    function watch(added, changed) {
        if (typeof added === 'function')
            onAdded.push(added);
        if (typeof changed === 'function')
            onChanged.push(changed);
        if (!observer) {
            observer = new MutationObserver(function (mutations) {
                for (let m = 0; m < mutations.length; ++m) {
                    const mutation = mutations[m];
                    if (mutation.type === 'attributes') {
                        if (mutation.target.nodeType === 1)
                            hand(onChanged, mutation.target);
                        continue;
                    }
                    const nodes = mutation.addedNodes;
                    for (let i = 0; i < nodes.length; ++i) {
                        if (nodes[i].nodeType === 1)
                            handInside(nodes[i]);
                    }
                }
            });
        }
        observe();
    }
    Object.defineProperty(window, key, { value: watch });
})();
