// Reader view: one narrow column of text, without navigation, asides, ads,
// sharing buttons and comments. Runs at document ready in the main world.
(function() {
    var style = document.createElement('style');
    style.textContent = 'body { max-width: 800px; margin: 0 auto; padding: 20px; font-family: Georgia, serif; line-height: 1.6; }'
        + ' nav, aside, .sidebar, .ad, .advertisement, [class*="ad-"], [id*="ad-"], header, footer, .header, .footer,'
        + ' .navigation, .nav, .social-share, .share-buttons, .comments, .comment-section { display: none !important; }'
        + ' article, main, .content, .post, .article { width: 100% !important; max-width: none !important; }';
    document.head.appendChild(style);
})();
