// Filters what scripts see of cookies and storage: tracking entries, or
// everything while all cookies are blocked. Runs at document creation in the
// main world. Storage may be unavailable (opaque origins, storage switched
// off): the session storage hook is then skipped instead of failing the
// whole script.
(function () {
    'use strict';
    const trackingDomains = "@TRACKER_DOMAINS@";
    const BLOCK_ALL_COOKIES = "@BLOCK_ALL_COOKIES@";

    function isTrackingDomain(domain) {
        if (!domain)
            return false;
        const lower = String(domain).toLowerCase();
        return trackingDomains.some(function (entry) { return lower.indexOf(entry) !== -1; });
    }

    const descriptor = Object.getOwnPropertyDescriptor(Document.prototype, 'cookie')
        || Object.getOwnPropertyDescriptor(HTMLDocument.prototype, 'cookie');
    if (descriptor && descriptor.set) {
        Object.defineProperty(Document.prototype, 'cookie', {
            configurable: true,
            get: function () {
                if (BLOCK_ALL_COOKIES)
                    return '';
                const cookies = descriptor.get.call(this);
                return cookies.split(';').filter(function (cookie) {
                    return !isTrackingDomain(cookie);
                }).join(';');
            },
            set: function (value) {
                if (BLOCK_ALL_COOKIES || isTrackingDomain(value))
                    return;
                descriptor.set.call(this, value);
            }
        });
    }

    function dropped(key, value) {
        return BLOCK_ALL_COOKIES || isTrackingDomain(key) || isTrackingDomain(value);
    }

    const savedSetItem = Storage.prototype.setItem;
    Storage.prototype.setItem = function (key, value) {
        if (dropped(key, value))
            return;
        return savedSetItem.call(this, key, value);
    };

    try {
        const storage = window.sessionStorage;
        if (storage) {
            const savedSessionSetItem = storage.setItem;
            storage.setItem = function (key, value) {
                if (dropped(key, value))
                    return;
                return savedSessionSetItem.call(storage, key, value);
            };
        }
    } catch (e) {
    }
})();
