// Removes elements that look like ads by their class, id, src or href, when
// the page is parsed and when they are added later; answers fetches of ad
// addresses with an empty response. Runs at document creation in the main
// world. The observers fall back to the document itself: at document
// creation there is neither a body nor a root element yet to observe.
(function () {
    'use strict';
    const adPatterns = "@AD_PATTERNS@";
    // One compiled alternation instead of a scan per pattern: every element
    // of the page passes through here while it is parsed.
    const adExpression = new RegExp(adPatterns.map(function (pattern) {
        return pattern.replace(/[.*+?^${}()|[\]\\\/]/g, '\\$&');
    }).join('|'));

    function matchesAny(text) {
        return adExpression.test(text);
    }

    function attributeMatches(value) {
        return !!value && matchesAny(String(value).toLowerCase());
    }

    // No pattern holds a blank, so testing the values one by one finds what
    // testing them joined by blanks would.
    function isAdElement(element) {
        if (!element)
            return false;
        return attributeMatches(element.className) || attributeMatches(element.id)
            || attributeMatches(element.src) || attributeMatches(element.href);
    }

    function removeAds() {
        document.querySelectorAll('*').forEach(function (element) {
            if (isAdElement(element)) {
                if (element.style) {
                    element.style.display = 'none';
                    element.style.visibility = 'hidden';
                }
                element.remove();
            }
        });
        document.querySelectorAll('iframe').forEach(function (frame) {
            if (matchesAny(frame.src || ''))
                frame.remove();
        });
    }

    removeAds();
    if (document.readyState === 'loading')
        document.addEventListener('DOMContentLoaded', removeAds);

    const observer = new MutationObserver(function (mutations) {
        mutations.forEach(function (mutation) {
            mutation.addedNodes.forEach(function (node) {
                if (node.nodeType === 1 && isAdElement(node))
                    node.remove();
            });
        });
    });
    observer.observe(document.body || document.documentElement || document,
                     { childList: true, subtree: true });

    const savedFetch = window.fetch;
    window.fetch = function (...args) {
        if (typeof args[0] === 'string' && matchesAny(args[0]))
            return Promise.resolve(new Response('', { status: 200 }));
        return savedFetch.apply(window, args);
    };
})();
