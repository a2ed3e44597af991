// Removes elements that look like ads by their class, id, src or href, as
// the page is parsed, when they are added later and when those attributes
// change (elementfeed.js hands them over); answers fetches of ad addresses
// with an empty response. Runs at document creation in the main world.
(function () {
    'use strict';
    const adPatterns = "@AD_PATTERNS@";
    // One compiled alternation instead of a scan per pattern: every element
    // of the page passes through here while it is parsed.
    const alternation = adPatterns.map(function (pattern) {
        return pattern.replace(/[.*+?^${}()|[\]\\\/]/g, '\\$&');
    }).join('|');
    const adExpression = new RegExp(alternation);
    // Attribute values match in any case, without a lower-cased copy of each.
    const adAttribute = new RegExp(alternation, 'i');

    function matchesAny(text) {
        return adExpression.test(text);
    }

    function attributeMatches(value) {
        return !!value && adAttribute.test(String(value));
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

    // A document that has elements already (the script ran late) is looked
    // through once; the feed brings every element after that.
    removeAds();
    function check(element) {
        if (isAdElement(element))
            element.remove();
    }
    window[Symbol.for('orvex.elements')](check, check);

    const savedFetch = window.fetch;
    window.fetch = function (...args) {
        if (typeof args[0] === 'string' && matchesAny(args[0]))
            return Promise.resolve(new Response('', { status: 200 }));
        return savedFetch.apply(window, args);
    };
})();
