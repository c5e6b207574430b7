// Lists the browser's tabs; a click switches to a tab, the cross closes it.
const list = document.getElementById('tabs');
const status = document.getElementById('status');

function row(tab) {
    const item = document.createElement('li');
    item.dataset.tabId = tab.id;
    item.className = tab.active ? 'active' : '';
    const text = document.createElement('span');
    text.className = 'title';
    text.textContent = tab.title || 'New Tab';
    const url = document.createElement('span');
    url.className = 'url';
    url.textContent = tab.url;
    text.appendChild(url);
    const close = document.createElement('button');
    close.type = 'button';
    close.className = 'close';
    close.title = 'Close tab';
    close.textContent = '\u00d7';
    close.addEventListener('click', (event) => {
        event.stopPropagation();
        qv.tabs.close(tab.id).catch(show);
    });
    item.append(text, close);
    item.addEventListener('click', () => qv.tabs.activate(tab.id).catch(show));
    return item;
}

function show(error) { status.textContent = error.message; }

async function refresh() {
    try {
        const tabs = await qv.tabs.list();
        list.replaceChildren(...tabs.map(row));
        status.textContent = tabs.length === 1 ? '1 tab' : tabs.length + ' tabs';
    } catch (error) {
        show(error);
    }
}

document.getElementById('new-tab').addEventListener('click', () => qv.tabs.create().catch(show));
for (const name of ['tabs.created', 'tabs.activated', 'tabs.removed', 'page.loaded'])
    qv.on(name, refresh).catch(show);
refresh();
