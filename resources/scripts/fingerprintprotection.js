// Disguises the surfaces pages read to tell browsers apart. Runs at document
// creation in the main world.
//
// Canvas read-backs (toDataURL, toBlob, getImageData) change by one step in
// one colour channel of most opaque pixels, chosen from a key of this run of
// the browser, the site, and each pixel's place and colour. The same canvas
// reads the same all session long, so a page can't average the change away;
// another session or another site reads differently. The page's own canvas is
// never changed: toDataURL and toBlob work on a copy, getImageData on the
// data it returns. An empty canvas is left alone: reading its pixels would
// throw.
(function () {
    'use strict';
    const sessionKey = "@SESSION_KEY@";
    const savedToDataURL = HTMLCanvasElement.prototype.toDataURL;
    const savedToBlob = HTMLCanvasElement.prototype.toBlob;
    const context2d = CanvasRenderingContext2D.prototype;
    const savedGetImageData = context2d.getImageData;
    const savedPutImageData = context2d.putImageData;
    const savedDrawImage = context2d.drawImage;
    const savedCreateElement = Document.prototype.createElement;

    let siteSeed = 0x811c9dc5;
    const site = sessionKey + '|' + location.hostname;
    for (let i = 0; i < site.length; ++i)
        siteSeed = Math.imul(siteSeed ^ site.charCodeAt(i), 0x01000193);

    function mix(h, value) {
        h = Math.imul(h ^ value, 0x5bd1e995);
        return h ^ (h >>> 15);
    }

    // left, top: where the data sits in the canvas.
    function disguise(imageData, left, top) {
        const data = imageData.data, width = imageData.width;
        for (let i = 0; i < data.length; i += 4) {
            // Only opaque pixels: the others would lose the step to premultiplied alpha.
            if (data[i + 3] !== 255)
                continue;
            const p = i >> 2;
            let h = mix(mix(mix(siteSeed, left + p % width), top + Math.floor(p / width)),
                        (data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
            h = Math.imul(h ^ (h >>> 13), 0xc2b2ae35) >>> 0;
            if ((h & 3) === 0)
                continue;
            const step = (h & 4) ? 1 : -1;
            const at = i + (h >>> 3) % 3;
            const moved = data[at] + step;
            data[at] = moved < 0 || moved > 255 ? data[at] - step : moved;
        }
        return imageData;
    }

    // Null when the canvas is empty or can't be read (cross-origin content):
    // the page's call then runs on the canvas itself and fails as it would.
    function disguisedCopy(canvas) {
        const width = canvas.width, height = canvas.height;
        if (!width || !height)
            return null;
        try {
            const copy = savedCreateElement.call(document, 'canvas');
            copy.width = width;
            copy.height = height;
            const context = copy.getContext('2d');
            savedDrawImage.call(context, canvas, 0, 0);
            savedPutImageData.call(context, disguise(savedGetImageData.call(context, 0, 0, width, height), 0, 0), 0, 0);
            return copy;
        } catch (e) {
            return null;
        }
    }

    HTMLCanvasElement.prototype.toDataURL = function () {
        return savedToDataURL.apply(disguisedCopy(this) || this, arguments);
    };
    HTMLCanvasElement.prototype.toBlob = function () {
        return savedToBlob.apply(disguisedCopy(this) || this, arguments);
    };
    context2d.getImageData = function (sx, sy, sw, sh) {
        const imageData = savedGetImageData.apply(this, arguments);
        // A negative width or height reads towards the left or top.
        return disguise(imageData, Math.floor(sw < 0 ? sx + sw : sx), Math.floor(sh < 0 ? sy + sh : sy));
    };

    // WebGL's interface is patched when a page first asks a canvas for a
    // context other than 2d: making it up front cost every page about 300 KB
    // of script heap, and pages without WebGL never make it.
    let webglPatched = false;
    function patchWebGL() {
        webglPatched = true;
        if (!window.WebGLRenderingContext)
            return;
        const savedGetParameter = WebGLRenderingContext.prototype.getParameter;
        WebGLRenderingContext.prototype.getParameter = function (parameter) {
            if (parameter === 37445)
                return 'Intel Inc.';
            if (parameter === 37446)
                return 'Intel Iris OpenGL Engine';
            return savedGetParameter.call(this, parameter);
        };
    }
    function guardGetContext(prototype) {
        const saved = prototype.getContext;
        prototype.getContext = function (type) {
            if (!webglPatched && type !== '2d')
                patchWebGL();
            return saved.apply(this, arguments);
        };
    }
    guardGetContext(HTMLCanvasElement.prototype);
    if ('OffscreenCanvas' in window)
        guardGetContext(OffscreenCanvas.prototype);

    Object.defineProperty(window.screen, 'width', { get: function () { return 1920; }, configurable: true });
    Object.defineProperty(window.screen, 'height', { get: function () { return 1080; }, configurable: true });
    Object.defineProperty(navigator, 'platform', { get: function () { return 'Linux x86_64'; }, configurable: true });
    Object.defineProperty(navigator, 'hardwareConcurrency', { get: function () { return 4; }, configurable: true });

    // Asked with 'in', which does not make the interface.
    if ('RTCPeerConnection' in window) {
        window.RTCPeerConnection = function () {
            throw new Error('WebRTC blocked');
        };
    }

    if (navigator.getBattery) {
        navigator.getBattery = function () {
            return Promise.resolve({ charging: true, chargingTime: 0, dischargingTime: Infinity, level: 1 });
        };
    }

    if (navigator.permissions) {
        const savedQuery = navigator.permissions.query.bind(navigator.permissions);
        const denied = ['notifications', 'geolocation', 'camera', 'microphone'];
        navigator.permissions.query = function (descriptor) {
            if (descriptor && denied.indexOf(descriptor.name) !== -1)
                return Promise.resolve({ state: 'denied' });
            return savedQuery(descriptor);
        };
    }
})();
