// Installing extensions from ZIP archives and website addresses, exporting and deleting them.
#include "extensions/extension_service.h"

#include "app/auxiliary_window.h"
#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"

#include "base/text_util.h"
#include "base/uuid.h"
#include "extensions/extension_installation_rules.h"
#include "extensions/extension_permissions.h"
#include "extensions/extension_storage.h"
#include "platform/alerts.h"
#include "platform/archive.h"
#include "platform/file_panels.h"
#include "platform/log.h"
#include "platform/storage_locations.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

std::string newLowercaseUUID() { return toLowerAscii(makeUUIDString()); }

// The name of the installed record's folder when the record lies directly in the store.
std::optional<std::string> installedFolderInStore(
    const std::map<ExtensionID, ExtensionRecord>& extensions, const ExtensionID& id,
    const fs::path& store)
{
    auto it = extensions.find(id);
    if (it == extensions.end())
        return std::nullopt;
    const fs::path& root = it->second.rootURL;
    std::error_code ec;
    if (!fs::equivalent(root.parent_path(), store, ec) || ec)
        return std::nullopt;
    return root.filename().string();
}

// Every name in the store, hidden items and plain files included.
std::set<std::string> storeItemNames(const fs::path& store)
{
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(store, ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().string());
    return names;
}

std::string describedOr(const std::error_code& ec, const char* fallback)
{
    return ec && !ec.message().empty() ? ec.message() : std::string(fallback);
}

} // namespace

GtkWindow* ExtensionService::extensionAlertParent() const
{
    if (Gtk::Window* manager
        = m_services.shell->auxiliaryWindow(AuxiliaryWindowKind::ExtensionManager))
        return manager->gobj();
    BrowserWindow* window = m_services.shell->window();
    return window ? GTK_WINDOW(window->gobj()) : nullptr;
}

void ExtensionService::installExtensionFromButton(const Sender&)
{
    FilePanelSpec panel;
    panel.title = "Install Extension";
    panel.acceptLabel = "Install";
    panel.filterName = "ZIP archives";
    panel.filterSuffix = "zip";
    runFilePanel(extensionAlertParent(), panel, [this](std::optional<fs::path> chosen) {
        if (chosen)
            installExtensionArchive(*chosen);
    });
}

void ExtensionService::installExtensionArchive(const fs::path& archive)
{
    if (!m_extensionsLoaded)
        loadExtensions();
    std::error_code ec;
    std::uintmax_t size = UINTMAX_MAX;
    if (fs::is_regular_file(archive, ec))
        size = fs::file_size(archive, ec);
    if (ec || !isAcceptableExtensionArchive(archive, size)) {
        m_services.shell->showError(std::string(kChooseZipMessage));
        return;
    }

    const fs::path folder = temporaryDirectory() / makeUUIDString();
    auto fail = [&](const std::string& message) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        m_services.shell->showError(message);
    };
    fs::create_directories(folder, ec);
    if (ec) {
        fail("Could not extract ZIP: " + describedOr(ec, "archive is invalid"));
        return;
    }
    // The limits hold while unpacking, folders counted as entries, so an archive that expands
    // without end stops early.
    auto extracted = extractZipArchive(archive, folder,
        { kMaxExtensionArchiveFiles, kMaxExtensionArchiveUnpackedBytes });
    if (!extracted) {
        fail("Could not extract ZIP: " + extracted.error());
        return;
    }
    std::optional<fs::path> index;
    if (*extracted == ZipExtractOutcome::Extracted)
        index = findArchiveIndex(folder);
    if (!index) {
        fail(std::string(kZipNeedsIndexMessage));
        return;
    }

    std::string base = archiveBaseName(archive);
    ExtensionID id = archiveExtensionID(base);
    if (id.empty())
        id = newLowercaseUUID();
    std::optional<std::string> entry = archiveEntryPath(folder, *index);
    if (!entry) {
        fail(std::string(kZipIndexOutsideMessage));
        return;
    }
    Json manifest = archiveExtensionManifest(id, archiveExtensionName(base), *entry);
    if (!writeFileAtomically(folder / kManifestFileName, dumpJson(manifest, 2))) {
        fail(std::string(kZipPrepareMessage));
        return;
    }
    auto checked = extensionAtDirectory(folder);
    if (!checked || checked->id().empty()) {
        fail(std::string(kZipOpenIndexMessage));
        return;
    }

    const fs::path store = extensionStoreURL();
    fs::create_directories(store, ec);
    const fs::path destination = store
        / extensionInstallFolderName(
            id, installedFolderInStore(m_extensions, id, store), storeItemNames(store));
    const bool wasEnabled = m_enabledExtensionIDs.count(id) > 0;
    // A running old version lets go of its files first; it stays in the enabled set.
    stopExtensionWebView(id);
    auto replaced = replaceExtensionFolder(
        folder, destination, store / extensionUpdateBackupName(id, makeUUIDString()));
    fs::remove_all(folder, ec);
    if (!replaced) {
        m_services.shell->showError(replaced.error());
        // The previous files are back in place; so is the extension they make.
        if (wasEnabled && m_extensions.count(id))
            openExtension(Sender::identified(id));
        return;
    }

    m_services.shell->setDefaultsValue(kExtensionPermissionsKey,
        withReplacedPermissions(m_services.shell->defaults().valueForKey(kExtensionPermissionsKey), id,
            checked->requestedPermissions()));
    auto deleted = extensionIDSetFromDefaults(m_services.shell->defaults().valueForKey(kDeletedBundledExtensionsKey));
    if (deleted.erase(id))
        m_services.shell->setDefaultsValue(kDeletedBundledExtensionsKey, extensionIDSetToDefaults(deleted));
    if (auto installed = extensionAtDirectory(destination)) {
        m_extensions[id] = *installed;
    } else {
        m_extensions.erase(id);
        logLine("Installed Extension " + id + " cannot be opened: " + installed.error());
    }
    m_selectedExtensionID = id;
    m_extensionSettingsVisible = false;
    m_changed.emit();
    if (wasEnabled && m_extensions.count(id))
        openExtension(Sender::identified(id));
}

void ExtensionService::addExtensionFromURL(const Sender&)
{
    if (!m_extensionsLoaded)
        loadExtensions();
    AlertSpec alert;
    alert.messageText = "Add Website Extension";
    alert.informativeText = "Enter the website address to open in the Extensions panel.";
    alert.buttons = { "Add Extension", "Cancel" };
    AlertTextField field { "https://example.com", {} };
    if (runModalAlert(extensionAlertParent(), alert, &field) != 0)
        return;
    auto address = websiteExtensionAddress(field.text);
    if (!address) {
        m_services.shell->showError(address.error());
        return;
    }

    const ExtensionID id = "url-" + newLowercaseUUID();
    const fs::path folder = extensionStoreURL() / id;
    std::error_code ec;
    if (!fs::create_directories(folder, ec) || ec) {
        m_services.shell->showError("Could not create Website Extension: " + describedOr(ec, "unknown error"));
        return;
    }
    if (auto written = writeFileAtomically(
            folder / kManifestFileName, dumpJson(websiteExtensionManifest(id, *address), 2));
        !written) {
        fs::remove_all(folder, ec);
        m_services.shell->showError("Could not save Website Extension: " + written.error());
        return;
    }
    m_services.shell->setDefaultsValue(kExtensionPermissionsKey,
        withReplacedPermissions(m_services.shell->defaults().valueForKey(kExtensionPermissionsKey), id,
            websiteExtensionPermissions()));

    // Adding the one new record leaves the other running extensions alone.
    auto record = extensionAtDirectory(folder);
    if (!record) {
        fs::remove_all(folder, ec);
        m_services.shell->showError("Could not save Website Extension: " + record.error());
        return;
    }
    m_extensions[id] = *record;
    m_selectedExtensionID = id;
    m_extensionSettingsVisible = false;
    m_changed.emit();
    openExtension(Sender::identified(id));
}

void ExtensionService::exportSelectedExtension(const Sender&)
{
    auto it = m_extensions.find(m_selectedExtensionID);
    if (it == m_extensions.end())
        return;
    const ExtensionID id = it->first;
    std::string name = it->second.name().empty() ? std::string("Extension") : it->second.name();
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Save;
    panel.title = "Export Extension";
    panel.acceptLabel = "Export";
    panel.suggestedName = name + ".zip";
    panel.filterName = "ZIP archives";
    panel.filterSuffix = "zip";
    runFilePanel(extensionAlertParent(), panel, [this, id](std::optional<fs::path> chosen) {
        auto record = m_extensions.find(id);
        if (!chosen || record == m_extensions.end())
            return;
        fs::path destination = *chosen;
        if (destination.extension().empty())
            destination += ".zip";
        if (auto written = writeZipArchiveOfFolder(record->second.rootURL, destination); !written) {
            m_services.shell->showError("Could not export Extension ZIP: " + written.error());
            return;
        }
        revealInFileViewer(destination);
    });
}

void ExtensionService::deleteExtension(const Sender& sender)
{
    const ExtensionID id = sender.identifier;
    auto it = m_extensions.find(id);
    if (it == m_extensions.end())
        return;
    std::string name = it->second.name().empty() ? id : it->second.name();
    int answer = runModalAlert(extensionAlertParent(),
        { "Delete " + name + "?", "The installed Extension files and its stored data will be removed.",
            { "Cancel", "Delete Extension" } });
    if (answer != 1)
        return;

    stopExtensionWebView(id);
    m_enabledExtensionIDs.erase(id);
    saveEnabledExtensionIDs();
    m_services.shell->setDefaultsValue(kExtensionPermissionsKey,
        withoutPermissions(m_services.shell->defaults().valueForKey(kExtensionPermissionsKey), id));
    if (auto removed = m_services.shell->defaults().removeObject(extensionStorageKey(id)); !removed)
        logLine(removed.error());
    std::error_code ignored;
    fs::remove_all(it->second.rootURL, ignored);
    auto deleted = extensionIDSetFromDefaults(m_services.shell->defaults().valueForKey(kDeletedBundledExtensionsKey));
    deleted.insert(id);
    m_services.shell->setDefaultsValue(kDeletedBundledExtensionsKey, extensionIDSetToDefaults(deleted));
    m_extensions.erase(it);
    if (m_selectedExtensionID == id) {
        m_selectedExtensionID.clear();
        m_extensionSettingsVisible = false;
    }
    m_changed.emit();
}

} // namespace qv
