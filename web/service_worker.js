// The page offline: the whole site in the browser's cache, under its version. A visit
// opens from the cache and works without the network; a new version (site_version.js,
// which the browser checks at each visit) is cached whole beside the old and replaces it
// once ready, for the visit after.
importScripts('site_version.js');

const cacheName = `bytone-${self.siteVersion}`;

self.addEventListener('install', (event) => {
    event.waitUntil(
        caches
            .open(cacheName)
            .then((cache) => cache.addAll(self.siteFiles.map((file) => new Request(file, { cache: 'reload' }))))
            .then(() => self.skipWaiting()),
    );
});

self.addEventListener('activate', (event) => {
    event.waitUntil(
        caches
            .keys()
            .then((names) => Promise.all(names.filter((n) => n.startsWith('bytone-') && n !== cacheName).map((n) => caches.delete(n))))
            .then(() => self.clients.claim()),
    );
});

// The site's own files from the cache (a page's address whatever its query: the page),
// anything else from the network.
self.addEventListener('fetch', (event) => {
    const request = event.request;
    if (request.method !== 'GET' || new URL(request.url).origin !== location.origin) return;
    event.respondWith(
        (async () => {
            const cache = await caches.open(cacheName);
            const page = request.mode === 'navigate';
            const cached = (await cache.match(request, { ignoreSearch: page })) ?? (page ? await cache.match('./') : undefined);
            return cached ?? fetch(request);
        })(),
    );
});
