// Adds one style sheet to the page once it is ready. Runs at document ready
// in the main world.
(function () {
    'use strict';
    const style = document.createElement('style');
    style.textContent = "@STYLE_SHEET@";
    const target = document.head || document.documentElement;
    if (target)
        target.appendChild(style);
})();
