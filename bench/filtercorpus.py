#!/usr/bin/env python3
"""Writes a request corpus for the filter engine: URL<TAB>PAGE_URL<TAB>TYPE
lines as page loads of real sites produce them (first-party assets, CDNs,
fonts, analytics, ad exchanges and header bidding, social widgets, consent
managers, video players), including requests the lists keep open on purpose
(exceptions for particular sites) and first-party paths that merely look like
ads. Deterministic (fixed seed); the bench and the reference comparison read it.

Usage: filtercorpus.py [OUT] [PAGE_LOADS]   (default bench/data/requests.tsv, 240)
"""
import random
import sys

SITES = [
    # host, extra first-party hosts (CDN, API), kind
    ("www.bbc.com", ["static.files.bbci.co.uk", "ichef.bbci.co.uk", "gn-web-assets.api.bbc.com"], "news"),
    ("www.bbc.co.uk", ["static.files.bbci.co.uk", "ichef.bbci.co.uk", "gn-web-assets.api.bbc.com"], "news"),
    ("www.theguardian.com", ["assets.guim.co.uk", "i.guim.co.uk", "api.nextgen.guardianapps.co.uk"], "news"),
    ("www.nytimes.com", ["static01.nyt.com", "g1.nyt.com", "a.nytimes.com"], "news"),
    ("edition.cnn.com", ["media.cnn.com", "registry.api.cnn.io", "cdn.cnn.com"], "news"),
    ("www.spiegel.de", ["cdn.prod.www.spiegel.de", "www.spiegel.de"], "news"),
    ("www.lemonde.fr", ["www.lemonde.fr", "img.lemde.fr"], "news"),
    ("www.bloomberg.com", ["assets.bwbx.io", "www.bloomberg.com"], "news"),
    ("weather.com", ["s.w-x.co", "api.weather.com"], "news"),
    ("www.accuweather.com", ["www.awxcdn.com", "api.accuweather.com"], "news"),
    ("www.cnbc.com", ["static-redesign.cnbcfm.com", "image.cnbcfm.com"], "news"),
    ("www.heise.de", ["heise.cloudimg.io", "www.heise.de"], "news"),
    ("www.forbes.com", ["specials-images.forbesimg.com", "i.forbesimg.com"], "news"),
    ("www.independent.co.uk", ["static.independent.co.uk"], "news"),
    ("en.wikipedia.org", ["upload.wikimedia.org", "meta.wikimedia.org"], "reference"),
    ("github.com", ["github.githubassets.com", "avatars.githubusercontent.com", "api.github.com"], "tech"),
    ("stackoverflow.com", ["cdn.sstatic.net", "i.sstatic.net"], "tech"),
    ("news.ycombinator.com", [], "tech"),
    ("www.reddit.com", ["www.redditstatic.com", "styles.redditmedia.com", "preview.redd.it", "gql.reddit.com"], "social"),
    ("www.youtube.com", ["i.ytimg.com", "yt3.ggpht.com", "www.gstatic.com"], "video"),
    ("vimeo.com", ["f.vimeocdn.com", "i.vimeocdn.com", "player.vimeo.com"], "video"),
    ("www.twitch.tv", ["static.twitchcdn.net", "gql.twitch.tv"], "video"),
    ("www.amazon.com", ["m.media-amazon.com", "images-na.ssl-images-amazon.com", "fls-na.amazon.com"], "shop"),
    ("www.ebay.com", ["ir.ebaystatic.com", "i.ebayimg.com"], "shop"),
    ("www.etsy.com", ["i.etsystatic.com", "www.etsy.com"], "shop"),
    ("www.ikea.com", ["www.ikea.com"], "shop"),
    ("www.booking.com", ["cf.bstatic.com", "q-xx.bstatic.com"], "shop"),
    ("www.imdb.com", ["m.media-amazon.com", "dqpnq362acqdi.cloudfront.net"], "media"),
    ("www.espn.com", ["a.espncdn.com", "secure.espn.com"], "media"),
    ("www.allrecipes.com", ["www.allrecipes.com", "imagesvc.meredithcorp.io"], "media"),
    ("docs.python.org", [], "tech"),
    ("www.debian.org", [], "tech"),
    ("www.mozilla.org", ["www.mozilla.org"], "tech"),
    ("www.rte.ie", ["img.rasset.ie"], "news"),
    ("www.cbc.ca", ["www.cbc.ca", "i.cbc.ca"], "news"),
    ("time.com", ["api.time.com"], "news"),
]

FIRST_PARTY = [
    ("script", "/static/js/main.{h}.js"), ("script", "/assets/vendor.{h}.js"), ("script", "/js/header.js"),
    ("stylesheet", "/static/css/main.{h}.css"), ("stylesheet", "/css/print.css"),
    ("image", "/images/logo.svg"), ("image", "/img/{n}/photo_1280.jpg"), ("image", "/uploads/2024/05/adventure-{n}.jpg"),
    ("image", "/images/loading.gif"), ("image", "/icons/badge.svg"), ("image", "/img/shadow.png"),
    ("image", "/media/advice/{n}.webp"), ("image", "/thumbs/{n}.jpg"), ("font", "/fonts/sans-regular.woff2"),
    ("xmlhttprequest", "/api/v2/articles?page={n}"), ("xmlhttprequest", "/api/user/session"),
    ("xmlhttprequest", "/graphql?op=Feed"), ("other", "/manifest.json"), ("image", "/favicon.ico"),
    ("script", "/static/js/chunk-{n}.js"), ("xmlhttprequest", "/api/recommendations?item={n}"),
    ("image", "/download/button.png"), ("script", "/js/video-player.js"),
]

CDNS = [
    ("script", "https://cdnjs.cloudflare.com/ajax/libs/jquery/3.7.1/jquery.min.js"),
    ("script", "https://code.jquery.com/jquery-3.7.1.min.js"),
    ("script", "https://cdn.jsdelivr.net/npm/bootstrap@5.3.0/dist/js/bootstrap.bundle.min.js"),
    ("script", "https://unpkg.com/react@18/umd/react.production.min.js"),
    ("script", "https://ajax.googleapis.com/ajax/libs/jquery/3.7.1/jquery.min.js"),
    ("stylesheet", "https://fonts.googleapis.com/css2?family=Roboto:wght@400;700&display=swap"),
    ("font", "https://fonts.gstatic.com/s/roboto/v30/KFOmCnqEu92Fr1Mu4mxK.woff2"),
    ("stylesheet", "https://use.typekit.net/abc1def.css"), ("font", "https://use.typekit.net/af/1a2b3c/000000000000000000017703/27/l"),
    ("image", "https://d1a2b3c4d5e6f7.cloudfront.net/images/hero.jpg"),
    ("script", "https://www.google.com/recaptcha/api.js"),
    ("sub_frame", "https://www.google.com/recaptcha/api2/anchor?ar=1&k=6Lc_key&co=aHR0cHM6&hl=en&v=abc&size=invisible"),
    ("script", "https://maps.googleapis.com/maps/api/js?key=AIzaSyExample&callback=initMap"),
    ("image", "https://maps.gstatic.com/mapfiles/api-3/images/spotlight-poi3.png"),
    ("script", "https://js.stripe.com/v3/"),
    ("script", "https://www.paypal.com/sdk/js?client-id=abc"),
    ("image", "https://upload.wikimedia.org/wikipedia/commons/thumb/a/a9/Example.jpg/320px-Example.jpg"),
    ("script", "https://challenges.cloudflare.com/turnstile/v0/api.js"),
    ("image", "https://images.unsplash.com/photo-1500000000000-abcdef?w=800"),
    ("script", "https://polyfill-fastly.io/v3/polyfill.min.js"),
    ("script", "https://static.cloudflareinsights.com/beacon.min.js"),
]

ANALYTICS = [
    ("script", "https://www.googletagmanager.com/gtm.js?id=GTM-AB12CD"),
    ("script", "https://www.googletagmanager.com/gtag/js?id=G-ABCDEF1234"),
    ("script", "https://www.google-analytics.com/analytics.js"),
    ("ping", "https://www.google-analytics.com/g/collect?v=2&tid=G-ABCDEF1234&cid=123.456&en=page_view"),
    ("xmlhttprequest", "https://region1.google-analytics.com/g/collect?v=2&tid=G-ABCDEF1234"),
    ("script", "https://connect.facebook.net/en_US/fbevents.js"),
    ("image", "https://www.facebook.com/tr/?id=1234567890&ev=PageView&noscript=1"),
    ("script", "https://static.hotjar.com/c/hotjar-123456.js?sv=6"),
    ("script", "https://script.hotjar.com/modules.abc123.js"),
    ("script", "https://cdn.segment.com/analytics.js/v1/abcdef/analytics.min.js"),
    ("xmlhttprequest", "https://api.segment.io/v1/t"),
    ("script", "https://cdn.mxpnl.com/libs/mixpanel-2-latest.min.js"),
    ("xmlhttprequest", "https://api-js.mixpanel.com/track/?verbose=1"),
    ("script", "https://static.chartbeat.com/js/chartbeat.js"),
    ("image", "https://ping.chartbeat.net/ping?h=example.com&p=%2F"),
    ("script", "https://js-agent.newrelic.com/nr-spa-1234.min.js"),
    ("xmlhttprequest", "https://bam.nr-data.net/1/abcdef?a=123"),
    ("script", "https://sb.scorecardresearch.com/beacon.js"),
    ("image", "https://sb.scorecardresearch.com/p?c1=2&c2=123456&cv=2.0&cj=1"),
    ("script", "https://secure.quantserve.com/quant.js"),
    ("image", "https://pixel.quantserve.com/pixel;r=123;a=p-abc"),
    ("script", "https://www.clarity.ms/tag/abcdef123"),
    ("script", "https://bat.bing.com/bat.js"),
    ("image", "https://bat.bing.com/action/0?ti=123&Ver=2"),
    ("script", "https://snap.licdn.com/li.lms-analytics/insight.min.js"),
    ("image", "https://px.ads.linkedin.com/collect/?pid=123&fmt=gif"),
    ("script", "https://static.ads-twitter.com/uwt.js"),
    ("image", "https://t.co/i/adsct?txn_id=abc&p_id=Twitter"),
    ("script", "https://s.pinimg.com/ct/core.js"),
    ("image", "https://ct.pinterest.com/v3/?tid=123&event=init"),
    ("script", "https://analytics.tiktok.com/i18n/pixel/events.js?sdkid=ABC"),
    ("script", "https://cdn.amplitude.com/libs/amplitude-8.21.4-min.gz.js"),
    ("xmlhttprequest", "https://api2.amplitude.com/2/httpapi"),
    ("script", "https://cdn.heapanalytics.com/js/heap-123.js"),
    ("script", "https://edge.fullstory.com/s/fs.js"),
    ("script", "https://d1af033869koo7.cloudfront.net/psa.js"),
    ("script", "https://cdn.parsely.com/keys/example.com/p.js"),
    ("image", "https://srv-2024-05-01-12.pixel.parsely.com/plogger/?rand=1&idsite=example.com"),
    ("script", "https://plausible.io/js/script.js"),
    ("script", "https://cdn.matomo.cloud/example.matomo.cloud/matomo.js"),
    ("script", "https://tags.tiqcdn.com/utag/example/main/prod/utag.js"),
    ("script", "https://assets.adobedtm.com/launch-EN123.min.js"),
    ("xmlhttprequest", "https://example.sc.omtrdc.net/b/ss/examplerprod/1/JS-2.22.0/s123"),
    ("script", "https://cdn.optimizely.com/js/123456.js"),
    ("script", "https://rum-static.pingdom.net/pa-123.js"),
    ("xmlhttprequest", "https://browser-intake-datadoghq.com/api/v2/rum?ddsource=browser"),
    ("script", "https://www.datadoghq-browser-agent.com/datadog-rum-v4.js"),
    ("script", "https://cdn.speedcurve.com/js/lux.js?id=123"),
    ("script", "https://js.sentry-cdn.com/abc123.min.js"),
]

ADS = [
    ("script", "https://securepubads.g.doubleclick.net/tag/js/gpt.js"),
    ("script", "https://securepubads.g.doubleclick.net/pagead/managed/js/gpt/m202405010101/pubads_impl.js"),
    ("xmlhttprequest", "https://securepubads.g.doubleclick.net/gampad/ads?pvsid=123&correlator=456&output=ldjh"),
    ("script", "https://pagead2.googlesyndication.com/pagead/js/adsbygoogle.js?client=ca-pub-1234567890"),
    ("sub_frame", "https://googleads.g.doubleclick.net/pagead/ads?client=ca-pub-123&format=728x90"),
    ("sub_frame", "https://tpc.googlesyndication.com/safeframe/1-0-40/html/container.html"),
    ("image", "https://tpc.googlesyndication.com/simgad/123456789"),
    ("script", "https://www.googletagservices.com/tag/js/gpt.js"),
    ("image", "https://ad.doubleclick.net/ddm/activity/src=123;type=invmedia;cat=abc"),
    ("script", "https://c.amazon-adsystem.com/aax2/apstag.js"),
    ("xmlhttprequest", "https://aax.amazon-adsystem.com/e/dtb/bid?src=123"),
    ("xmlhttprequest", "https://ib.adnxs.com/ut/v3/prebid"),
    ("script", "https://acdn.adnxs.com/prebid/not-for-prod/prebid.js"),
    ("xmlhttprequest", "https://fastlane.rubiconproject.com/a/api/fastlane.json?account_id=123"),
    ("xmlhttprequest", "https://prebid-server.rubiconproject.com/openrtb2/auction"),
    ("xmlhttprequest", "https://hbopenbid.pubmatic.com/translator?source=prebid-client"),
    ("image", "https://image6.pubmatic.com/AdServer/PugMaster?rnd=123&p=456"),
    ("script", "https://static.criteo.net/js/ld/publishertag.js"),
    ("xmlhttprequest", "https://bidder.criteo.com/cdb?ptv=123&profileId=207"),
    ("image", "https://dis.criteo.com/dis/usersync.aspx?r=1&p=3"),
    ("script", "https://cdn.taboola.com/libtrc/example-network/loader.js"),
    ("xmlhttprequest", "https://trc.taboola.com/example-network/trc/3/json?tim=123"),
    ("image", "https://images.taboola.com/taboola/image/fetch/f_jpg%2Cq_auto/https%3A//example.com/x.jpg"),
    ("script", "https://widgets.outbrain.com/outbrain.js"),
    ("xmlhttprequest", "https://widgets.outbrain.com/hub/index.html?permalink=https%3A%2F%2Fexample.com"),
    ("image", "https://match.adsrvr.org/track/cmf/generic?ttd_pid=abc&ttd_tpi=1"),
    ("script", "https://js.adsrvr.org/up_loader.1.1.0.js"),
    ("script", "https://z.moatads.com/examplejs123/moatad.js"),
    ("script", "https://bs.serving-sys.com/Serving/adServer.bs?cn=display&c=23"),
    ("xmlhttprequest", "https://htlb.casalemedia.com/cygnus?s=123&v=7.2"),
    ("image", "https://dsum-sec.casalemedia.com/rum?cm_dsp_id=18&expiry=1"),
    ("xmlhttprequest", "https://ap.lijit.com/rtb/bid?src=prebid_prebid_7.54.0"),
    ("xmlhttprequest", "https://rtb.openx.net/openrtbb/prebidjs"),
    ("image", "https://u.openx.net/w/1.0/cm?id=abc&r=https%3A%2F%2Fx"),
    ("script", "https://a.teads.tv/page/123/tag"),
    ("xmlhttprequest", "https://a.teads.tv/hb/bid-request"),
    ("xmlhttprequest", "https://ads.yieldmo.com/exchange/prebid"),
    ("xmlhttprequest", "https://btlr.sharethrough.com/universal/v1?supply_id=abc"),
    ("script", "https://ced.sascdn.com/tag/123/smart.js"),
    ("xmlhttprequest", "https://prg.smartadserver.com/prebid/v1"),
    ("script", "https://cdn.adsafeprotected.com/iasPET.1.js"),
    ("script", "https://pixel.adsafeprotected.com/jload?anId=123"),
    ("image", "https://sync.outbrain.com/cookie-sync?p=medianet&uid=abc"),
    ("script", "https://contextual.media.net/dmedianet.js?cid=8CU123"),
    ("image", "https://cm.g.doubleclick.net/pixel?google_nid=abc&google_cm"),
    ("script", "https://s.yimg.com/wi/ytc.js"),
    ("image", "https://sp.analytics.yahoo.com/spp.pl?a=123&.yp=456"),
    ("script", "https://cdn.ampproject.org/v0/amp-ad-0.1.js"),
    ("sub_frame", "https://www.googletagmanager.com/ns.html?id=GTM-AB12CD"),
    ("script", "https://ads.pubmatic.com/AdServer/js/pwt/123/456/pwt.js"),
    ("image", "https://ads.stickyadstv.com/user-registering?dataProviderId=1"),
    ("script", "https://cdn.confiant-integrations.net/abc/gpt_and_prebid/config.js"),
    ("script", "https://micro.rubiconproject.com/prebid/dynamic/1234.js"),
    ("xmlhttprequest", "https://as-sec.casalemedia.com/cygnus?v=7"),
    ("script", "https://config.aps.amazon-adsystem.com/configs/123"),
    ("script", "https://imasdk.googleapis.com/js/sdkloader/ima3.js"),
    ("media", "https://ads.freewheel.tv/media/123/ad.mp4"),
]

SOCIAL = [
    ("script", "https://platform.twitter.com/widgets.js"),
    ("sub_frame", "https://platform.twitter.com/embed/Tweet.html?id=1234567890"),
    ("script", "https://connect.facebook.net/en_US/sdk.js#xfbml=1&version=v17.0"),
    ("sub_frame", "https://www.facebook.com/plugins/like.php?href=https%3A%2F%2Fexample.com"),
    ("script", "https://www.instagram.com/embed.js"),
    ("script", "https://apis.google.com/js/platform.js"),
    ("script", "https://platform.linkedin.com/in.js"),
    ("script", "https://assets.pinterest.com/js/pinit.js"),
    ("script", "https://static.addtoany.com/menu/page.js"),
    ("script", "https://s7.addthis.com/js/300/addthis_widget.js#pubid=ra-123"),
    ("script", "https://platform-api.sharethis.com/js/sharethis.js#property=abc"),
    ("script", "https://www.tiktok.com/embed.js"),
    ("script", "https://embed.redditmedia.com/widgets/platform.js"),
    ("script", "https://disqus.com/embed/comments/?base=default&f=example"),
    ("script", "https://example.disqus.com/embed.js"),
]

CONSENT = [
    ("script", "https://cdn.cookielaw.org/scripttemplates/otSDKStub.js"),
    ("script", "https://cdn.cookielaw.org/scripttemplates/202405.1.0/otBannerSdk.js"),
    ("xmlhttprequest", "https://cdn.cookielaw.org/consent/abc-123/abc-123.json"),
    ("script", "https://consent.cookiebot.com/uc.js"),
    ("script", "https://sdk.privacy-center.org/abc/loader.js?target=www.example.com"),
    ("script", "https://cmp.quantcast.com/choice/abc123/www.example.com/choice.js?tag_version=V2"),
    ("script", "https://consent.trustarc.com/notice?domain=example.com&c=teconsent"),
    ("script", "https://cdn.privacy-mgmt.com/unified/wrapperMessagingWithoutDetection.js"),
    ("script", "https://app.usercentrics.eu/browser-ui/latest/loader.js"),
    ("script", "https://consentcdn.cookiebot.com/consentconfig/abc/settings.js"),
    ("script", "https://cdn.iubenda.com/cs/iubenda_cs.js"),
]

VIDEO = [
    ("sub_frame", "https://www.youtube.com/embed/dQw4w9WgXcQ?rel=0"),
    ("image", "https://i.ytimg.com/vi/dQw4w9WgXcQ/hqdefault.jpg"),
    ("script", "https://www.youtube.com/iframe_api"),
    ("script", "https://www.youtube.com/s/player/abc123/www-widgetapi.vflset/www-widgetapi.js"),
    ("xmlhttprequest", "https://www.youtube.com/api/stats/watchtime?ns=yt&el=embedded&cpn=abc"),
    ("xmlhttprequest", "https://www.youtube.com/youtubei/v1/log_event?alt=json"),
    ("xmlhttprequest", "https://www.youtube.com/pagead/viewthroughconversion/123/?backend=innertube"),
    ("sub_frame", "https://player.vimeo.com/video/76979871"),
    ("script", "https://player.vimeo.com/api/player.js"),
    ("media", "https://rr3---sn-abc.googlevideo.com/videoplayback?expire=123&itag=22"),
    ("script", "https://cdn.jwplayer.com/libraries/AbCdEf12.js"),
    ("script", "https://players.brightcove.net/123456/default_default/index.min.js"),
    ("script", "https://geo.dailymotion.com/libs/player/x123.js"),
    ("script", "https://imasdk.googleapis.com/js/sdkloader/ima3.js"),
    ("image", "https://i.vimeocdn.com/video/123456-abc-d_640"),
    ("xmlhttprequest", "https://fresnel.vimeocdn.com/add/player-stats?beacon=1"),
]

# Page loads on particular sites that the lists allow on purpose.
SITE_SPECIFIC = {
    "weather.com": [("script", "https://securepubads.g.doubleclick.net/tag/js/gpt.js"),
                    ("script", "https://securepubads.g.doubleclick.net/gpt/pubads_impl_2024050101.js"),
                    ("xmlhttprequest", "https://securepubads.g.doubleclick.net/pagead/ppub_config?ippd=weather.com"),
                    ("script", "https://imasdk.googleapis.com/js/sdkloader/ima3.js")],
    "www.bloomberg.com": [("script", "https://securepubads.g.doubleclick.net/tag/js/gpt.js"),
                          ("xmlhttprequest", "https://securepubads.g.doubleclick.net/gampad/ads?iu=/bloomberg"),
                          ("script", "https://imasdk.googleapis.com/js/sdkloader/ima3.js")],
    "www.accuweather.com": [("script", "https://www.accuweather.com/bundles/prebid.abc123.js"),
                            ("script", "https://c.amazon-adsystem.com/aax2/apstag.js"),
                            ("script", "https://securepubads.g.doubleclick.net/tag/js/gpt.js")],
    "www.bbc.com": [("script", "https://imasdk.googleapis.com/js/sdkloader/ima3.js"),
                    ("script", "https://bbc.gscontxt.net/main/channels.js"),
                    ("script", "https://www.bbc.co.uk/bbcdotcom/ads/adverts.js")],
    "www.bbc.co.uk": [("script", "https://www.bbc.co.uk/bbcdotcom/ads/adverts.js"),
                      ("script", "https://gn-web-assets.api.bbc.com/bbcdotcom/assets/20240501/script/dotcom.js")],
    "www.spiegel.de": [("script", "https://securepubads.g.doubleclick.net/tag/js/gpt.js")],
    "www.cnbc.com": [("media", "https://ads.freewheel.tv/media/123/ad.mp4"),
                     ("xmlhttprequest", "https://v.fwmrm.net/ad/p/1?nw=123")],
    "www.independent.co.uk": [("script", "https://c.amazon-adsystem.com/aax2/apstag.js"),
                              ("xmlhttprequest", "https://securepubads.g.doubleclick.net/pagead/ppub_config?ippd=independent")],
    "time.com": [("script", "https://c.amazon-adsystem.com/aax2/apstag.js")],
    "vimeo.com": [("script", "https://www.googletagservices.com/tag/js/gpt.js")],
    "www.cbc.ca": [("script", "https://imasdk.googleapis.com/js/sdkloader/ima3.js")],
    "www.rte.ie": [("script", "https://imasdk.googleapis.com/js/sdkloader/ima3.js")],
}

# Parts of a site's own paths that ad lists look for.
FIRST_PARTY_ADLIKE = [
    ("script", "/ads/ads.js"), ("image", "/ad/banner/728x90.gif"), ("script", "/js/prebid.js"),
    ("script", "/assets/adsbygoogle-loader.js"), ("xmlhttprequest", "/api/ads/config"),
    ("image", "/sponsored/logo.png"), ("script", "/static/js/analytics.js"), ("image", "/pixel.gif?e=view"),
    ("script", "/js/tracking.js"), ("xmlhttprequest", "/collect?v=1&t=pageview"),
]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "bench/data/requests.tsv"
    loads = int(sys.argv[2]) if len(sys.argv) > 2 else 240
    rng = random.Random(20240501)
    lines = []
    for i in range(loads):
        host, extra, kind = SITES[i % len(SITES)]
        path = rng.choice(["/", "/news/world-{n}", "/article/{n}/a-long-story", "/wiki/Page_{n}", "/item/{n}",
                           "/search?q=weather+{n}", "/video/{n}"]).format(n=rng.randrange(1, 99999))
        page = "https://%s%s" % (host, path)
        lines.append((page, page, "main_frame"))
        n = lambda: rng.randrange(1, 99999)
        h = lambda: "%08x" % rng.getrandbits(32)
        for _ in range(rng.randrange(8, 20)):
            t, p = rng.choice(FIRST_PARTY)
            fp = rng.choice([host] + extra)
            lines.append(("https://%s%s" % (fp, p.format(n=n(), h=h())), page, t))
        for _ in range(rng.randrange(0, 3)):
            t, p = rng.choice(FIRST_PARTY_ADLIKE)
            lines.append(("https://%s%s" % (host, p), page, t))
        for group, lo, hi in ((CDNS, 1, 5), (ANALYTICS, 1, 7), (CONSENT, 0, 2), (SOCIAL, 0, 3)):
            for t, u in rng.sample(group, rng.randrange(lo, hi)):
                lines.append((u, page, t))
        if kind in ("news", "media", "shop") or rng.random() < 0.25:
            for t, u in rng.sample(ADS, rng.randrange(4, 16)):
                lines.append((u, page, t))
        if kind in ("video", "news", "media") or rng.random() < 0.3:
            for t, u in rng.sample(VIDEO, rng.randrange(1, 5)):
                lines.append((u, page, t))
        for t, u in SITE_SPECIFIC.get(host, []):
            lines.append((u, page, t))
    with open(out, "w") as f:
        for url, page, t in lines:
            f.write("%s\t%s\t%s\n" % (url, page, t))
    print("%s: %d requests from %d page loads" % (out, len(lines), loads))


if __name__ == "__main__":
    main()
