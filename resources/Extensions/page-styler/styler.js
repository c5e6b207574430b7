// Applies one of a few style sheets to the selected tab's page and remembers it per site.
const STYLES = {
    none: { label: 'Original', note: 'The page as served', css: '' },
    reading: {
        label: 'Reading', note: 'Wider lines, larger text',
        css: 'html body{max-width:46em!important;margin:0 auto!important;padding:1.5em!important;'
            + 'font-size:19px!important;line-height:1.65!important;'
            + 'font-family:Georgia,serif!important}'
    },
    night: {
        label: 'Night', note: 'Light text on dark',
        css: 'html{background:#15171c!important}html body{background:#15171c!important;'
            + 'color:#e6e6e6!important}html body a{color:#8cb4ff!important}'
    },
    calm: {
        label: 'Calm', note: 'No images or animation',
        css: 'html body img,html body video,html body iframe{visibility:hidden!important}'
            + '*{animation:none!important;transition:none!important}'
    }
};

const buttons = document.getElementById('styles');
const siteLabel = document.getElementById('site');
const status = document.getElementById('status');
// Style element IDs per tab, so a new choice replaces the old one.
const applied = new Map();

function siteOf(url) {
    try {
        const parsed = new URL(url);
        return parsed.protocol === 'http:' || parsed.protocol === 'https:' ? parsed.host : '';
    } catch (e) {
        return '';
    }
}

async function currentTab() {
    const tabs = await qv.tabs.list();
    return tabs.find((tab) => tab.active) || null;
}

async function applyStyle(tabId, name) {
    const previous = applied.get(tabId);
    if (previous) {
        applied.delete(tabId);
        await qv.source.removeCSS(previous, tabId).catch(() => false);
    }
    const style = STYLES[name];
    if (style && style.css)
        applied.set(tabId, await qv.source.insertCSS(style.css, tabId));
}

async function remembered(site) {
    const choices = (await qv.storage.get('sites')) || {};
    return choices[site] || 'none';
}

async function remember(site, name) {
    const choices = (await qv.storage.get('sites')) || {};
    if (name === 'none')
        delete choices[site];
    else
        choices[site] = name;
    await qv.storage.set('sites', choices);
}

function showChoice(name) {
    for (const button of buttons.children)
        button.setAttribute('aria-checked', String(button.dataset.style === name));
}

async function choose(name) {
    try {
        const tab = await currentTab();
        const site = tab ? siteOf(tab.url) : '';
        if (!site) {
            status.textContent = 'Open a website in the selected tab first.';
            return;
        }
        await applyStyle(tab.id, name);
        await remember(site, name);
        showChoice(name);
        status.textContent = name === 'none' ? 'Original style restored.' : STYLES[name].label + ' style applied.';
    } catch (error) {
        status.textContent = error.message;
    }
}

async function showCurrent() {
    try {
        const tab = await currentTab();
        const site = tab ? siteOf(tab.url) : '';
        siteLabel.textContent = site || 'No website selected';
        showChoice(site ? await remembered(site) : 'none');
    } catch (error) {
        status.textContent = error.message;
    }
}

// A page that finished loading gets its site's remembered style again.
async function pageLoaded(detail) {
    applied.delete(detail.tabId);
    const site = siteOf(detail.url);
    if (site) {
        const name = await remembered(site);
        if (name !== 'none')
            await applyStyle(detail.tabId, name).catch(() => {});
    }
    showCurrent();
}

for (const [name, style] of Object.entries(STYLES)) {
    const button = document.createElement('button');
    button.type = 'button';
    button.dataset.style = name;
    button.setAttribute('role', 'radio');
    button.textContent = style.label;
    const note = document.createElement('small');
    note.textContent = style.note;
    button.appendChild(note);
    button.addEventListener('click', () => choose(name));
    buttons.appendChild(button);
}

qv.on('page.loaded', pageLoaded).catch((error) => { status.textContent = error.message; });
qv.on('tabs.activated', showCurrent).catch(() => {});
qv.on('tabs.removed', (detail) => applied.delete(detail.tabId)).catch(() => {});
showCurrent();
