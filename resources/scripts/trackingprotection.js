// Removes scripts, images and frames loaded from tracking services, when the
// page is parsed and when they are added later (elementfeed.js hands them
// over); refuses fetches of tracking addresses. Runs at document creation in
// the main world.
(function () {
    'use strict';
    const trackingDomains = "@TRACKER_DOMAINS@";

    function isTrackingDomain(url) {
        if (!url)
            return false;
        const lower = String(url).toLowerCase();
        return trackingDomains.some(function (domain) { return lower.indexOf(domain) !== -1; });
    }

    function blockTracking() {
        ['script', 'img', 'iframe'].forEach(function (tag) {
            Array.from(document.getElementsByTagName(tag)).forEach(function (element) {
                if (element.src && isTrackingDomain(element.src))
                    element.remove();
            });
        });
    }

    blockTracking();

    window[Symbol.for('orvex.elements')](function (element) {
        const tag = element.tagName;
        if ((tag === 'SCRIPT' || tag === 'IMG' || tag === 'IFRAME') && element.src && isTrackingDomain(element.src))
            element.remove();
    });

    const savedFetch = window.fetch;
    window.fetch = function (...args) {
        if (typeof args[0] === 'string' && isTrackingDomain(args[0]))
            return Promise.reject(new Error('Tracking blocked'));
        return savedFetch.apply(window, args);
    };
})();
