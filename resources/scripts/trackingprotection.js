// Removes scripts, images and frames loaded from tracking services, when the
// page is parsed and when they are added later; refuses fetches of tracking
// addresses. Runs at document creation in the main world.
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

    const observer = new MutationObserver(function (mutations) {
        mutations.forEach(function (mutation) {
            mutation.addedNodes.forEach(function (node) {
                if (node.nodeType === 1
                        && (node.tagName === 'SCRIPT' || node.tagName === 'IMG' || node.tagName === 'IFRAME')
                        && node.src && isTrackingDomain(node.src))
                    node.remove();
            });
        });
    });
    observer.observe(document.body || document.documentElement || document,
                     { childList: true, subtree: true });

    const savedFetch = window.fetch;
    window.fetch = function (...args) {
        if (typeof args[0] === 'string' && isTrackingDomain(args[0]))
            return Promise.reject(new Error('Tracking blocked'));
        return savedFetch.apply(window, args);
    };
})();
