// Bridge client for extension pages: the native hooks and the `qv` API built on them.
// Injected before the page's own scripts; see docs/extensions.md for the API.
(function () {
    'use strict';

    var handler = null;
    var listeners = new Map(); // event name -> Set of functions

    function failure(message) {
        return { ok: false, error: String(message || 'Request denied.') };
    }

    // Resolves with the reply object {ok, value} or {ok: false, error}; never rejects.
    function request(action, args) {
        if (!handler)
            return Promise.resolve(failure('The Quivel bridge is not installed.'));
        var body = { action: String(action), args: args && typeof args === 'object' ? args : {} };
        var posted;
        try {
            posted = handler.postMessage(body);
        } catch (e) {
            return Promise.resolve(failure(e && e.message));
        }
        return Promise.resolve(posted).then(function (reply) {
            return reply && typeof reply === 'object' && typeof reply.ok === 'boolean'
                ? reply : failure('The browser sent no reply.');
        }, function (e) {
            return failure(e && e.message);
        });
    }

    // Resolves with the reply's value, or rejects with a QuivelError carrying its message.
    function call(action, args) {
        return request(action, args).then(function (reply) {
            if (reply.ok)
                return reply.value === undefined ? null : reply.value;
            var error = new Error(reply.error);
            error.name = 'QuivelError';
            error.action = String(action);
            throw error;
        });
    }

    // Adds a listener; the first listener of a name subscribes to it.
    function on(name, listener) {
        if (typeof listener !== 'function')
            return Promise.reject(new TypeError('A listener function is required.'));
        var set = listeners.get(name);
        if (set && set.size) {
            set.add(listener);
            return Promise.resolve(true);
        }
        return call('events.subscribe', { name: name }).then(function () {
            var current = listeners.get(name) || new Set();
            current.add(listener);
            listeners.set(name, current);
            return true;
        });
    }

    // Removes a listener; the last one gone unsubscribes.
    function off(name, listener) {
        var set = listeners.get(name);
        if (!set || !set.delete(listener))
            return Promise.resolve(false);
        if (set.size)
            return Promise.resolve(true);
        listeners.delete(name);
        return call('events.unsubscribe', { name: name });
    }

    function tabArgs(tabId, extra) {
        var args = extra || {};
        if (tabId !== undefined && tabId !== null)
            args.tabId = tabId;
        return args;
    }

    function buildAPI() {
        return Object.freeze({
            request: request,
            call: call,
            on: on,
            off: off,
            ui: Object.freeze({
                getState: function () { return call('ui.getState'); },
                setTheme: function (theme) { return call('ui.setTheme', { theme: theme }); },
                setChromeVisibility: function (options) {
                    return call('ui.setChromeVisibility', options || {});
                }
            }),
            tabs: Object.freeze({
                list: function () { return call('tabs.list'); },
                create: function (url) { return call('tabs.create', url ? { url: url } : {}); },
                activate: function (tabId) { return call('tabs.activate', { tabId: tabId }); },
                close: function (tabId) { return call('tabs.close', { tabId: tabId }); }
            }),
            browser: Object.freeze({
                getInfo: function () { return call('browser.getInfo'); },
                getHomePage: function () { return call('browser.getHomePage'); },
                getUserAgent: function (tabId) { return call('browser.getUserAgent', tabArgs(tabId)); }
            }),
            page: Object.freeze({
                getInfo: function (tabId) { return call('page.getInfo', tabArgs(tabId)); },
                getText: function (tabId) { return call('page.getText', tabArgs(tabId)); },
                getHTML: function (tabId) { return call('page.getHTML', tabArgs(tabId)); },
                getResources: function (tabId) { return call('page.getResources', tabArgs(tabId)); },
                click: function (selector, tabId) {
                    return call('page.click', tabArgs(tabId, { selector: selector }));
                },
                type: function (selector, text, tabId) {
                    return call('page.type', tabArgs(tabId, { selector: selector, text: text }));
                },
                scroll: function (selector, x, y, tabId) {
                    return call('page.scroll', tabArgs(tabId, { selector: selector, x: x || 0, y: y || 0 }));
                },
                navigate: function (url, tabId) {
                    return call('page.navigate', tabArgs(tabId, { url: url }));
                },
                reload: function (tabId) { return call('page.reload', tabArgs(tabId)); },
                back: function (tabId) { return call('page.back', tabArgs(tabId)); },
                forward: function (tabId) { return call('page.forward', tabArgs(tabId)); },
                localStorage: Object.freeze({
                    get: function (tabId) { return call('page.localStorage.get', tabArgs(tabId)); },
                    set: function (key, value, tabId) {
                        return call('page.localStorage.set', tabArgs(tabId, { key: key, value: value }));
                    },
                    remove: function (key, tabId) {
                        return call('page.localStorage.remove', tabArgs(tabId, { key: key }));
                    },
                    clear: function (tabId) { return call('page.localStorage.clear', tabArgs(tabId)); }
                })
            }),
            source: Object.freeze({
                getHTML: function (tabId) { return call('source.getHTML', tabArgs(tabId)); },
                setHTML: function (html, tabId) { return call('source.setHTML', tabArgs(tabId, { html: html })); },
                listResources: function (tabId) { return call('source.listResources', tabArgs(tabId)); },
                readResource: function (url, tabId) {
                    return call('source.readResource', tabArgs(tabId, { url: url }));
                },
                insertCSS: function (css, tabId) { return call('source.insertCSS', tabArgs(tabId, { css: css })); },
                removeCSS: function (styleId, tabId) {
                    return call('source.removeCSS', tabArgs(tabId, { styleId: styleId }));
                }
            }),
            scripting: Object.freeze({
                executeScript: function (code, tabId) {
                    return call('scripting.executeScript', tabArgs(tabId, { code: code }));
                }
            }),
            spoofing: Object.freeze({
                setUserAgent: function (userAgent, tabId) {
                    return call('spoofing.setUserAgent', tabArgs(tabId, { userAgent: userAgent }));
                }
            }),
            storage: Object.freeze({
                get: function (key) { return call('storage.get', { key: key }); },
                set: function (key, value) { return call('storage.set', { key: key, value: value }); },
                remove: function (key) { return call('storage.remove', { key: key }); },
                clear: function () { return call('storage.clear'); }
            }),
            addressBar: Object.freeze({
                getValue: function () { return call('addressBar.getValue'); },
                setValue: function (text) { return call('addressBar.setValue', { text: text }); },
                submit: function () { return call('addressBar.submit'); }
            }),
            network: Object.freeze({
                fetch: function (url, options, tabId) {
                    return call('network.fetch', tabArgs(tabId, { url: url, options: options || {} }));
                }
            }),
            download: Object.freeze({
                save: function (url, suggestedName) {
                    return call('download.save', suggestedName ? { url: url, suggestedName: suggestedName } : { url: url });
                }
            })
        });
    }

    // Called by the browser once per page load, before the page's scripts.
    globalThis.__qvInstall = function (options) {
        var name = options && options.bridgeName;
        var handlers = globalThis.webkit && globalThis.webkit.messageHandlers;
        handler = handlers && name ? handlers[name] : null;
        if (!globalThis.qv)
            Object.defineProperty(globalThis, 'qv', { value: buildAPI(), enumerable: true });
    };

    // Called by the browser for every event this page subscribed to.
    globalThis.__qvDispatchNativeEvent = function (name, detail) {
        var set = listeners.get(name);
        if (!set)
            return;
        var event = { name: name, detail: detail || {} };
        Array.from(set).forEach(function (listener) {
            try {
                listener(event.detail, event);
            } catch (e) {
                setTimeout(function () { throw e; });
            }
        });
        document.dispatchEvent(new CustomEvent('qv:' + name, { detail: event.detail }));
    };
})();
