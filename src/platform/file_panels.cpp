// File chooser panels over GtkFileChooserNative.
#include "platform/file_panels.h"

#include "platform/log.h"

#include <gtk/gtk.h>

#include <memory>

namespace qv {

namespace {

FilePanelResponder& panelResponder()
{
    static FilePanelResponder instance;
    return instance;
}

std::function<void(const std::filesystem::path&)>& revealResponder()
{
    static std::function<void(const std::filesystem::path&)> instance;
    return instance;
}

struct PanelRun {
    FilesPanelCompletion done;
};

void onPanelResponse(GtkNativeDialog* dialog, int response, gpointer data)
{
    std::unique_ptr<PanelRun> run(static_cast<PanelRun*>(data));
    std::vector<std::filesystem::path> chosen;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (response == GTK_RESPONSE_ACCEPT) {
        GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
        for (guint i = 0, n = g_list_model_get_n_items(files); i < n; ++i) {
            auto* file = G_FILE(g_list_model_get_item(files, i));
            if (char* path = g_file_get_path(file)) {
                chosen.emplace_back(path);
                g_free(path);
            }
            g_object_unref(file);
        }
        g_object_unref(files);
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_object_unref(dialog);
    if (run->done)
        run->done(std::move(chosen));
}

} // namespace

void setFilePanelResponder(FilePanelResponder responder)
{
    panelResponder() = std::move(responder);
}

void runFilePanel(GtkWindow* parent, const FilePanelSpec& panel, FilePanelCompletion done)
{
    runFilesPanel(parent, panel, [done = std::move(done)](std::vector<std::filesystem::path> files) {
        if (!done)
            return;
        if (files.empty())
            done(std::nullopt);
        else
            done(std::move(files.front()));
    });
}

void runFilesPanel(GtkWindow* parent, const FilePanelSpec& panel, FilesPanelCompletion done)
{
    if (panelResponder()) {
        if (auto answer = panelResponder()(panel)) {
            // Later, like a real panel, so callers never re-enter from inside themselves.
            using Pending = std::pair<FilesPanelCompletion, std::vector<std::filesystem::path>>;
            g_idle_add_full(
                G_PRIORITY_DEFAULT,
                [](gpointer data) -> gboolean {
                    std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
                    if (pending->first)
                        pending->first(std::move(pending->second));
                    return G_SOURCE_REMOVE;
                },
                new Pending { std::move(done),
                    *answer ? std::vector { std::move(**answer) }
                            : std::vector<std::filesystem::path> {} },
                nullptr);
            return;
        }
    }
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    bool save = panel.kind == FilePanelSpec::Kind::Save;
    GtkFileChooserAction action = save ? GTK_FILE_CHOOSER_ACTION_SAVE
        : panel.kind == FilePanelSpec::Kind::Folder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                                    : GTK_FILE_CHOOSER_ACTION_OPEN;
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(panel.title.c_str(), parent,
        action,
        panel.acceptLabel.empty() ? nullptr : panel.acceptLabel.c_str(), nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    if (!save)
        gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dialog), panel.multiple);
    if (save && !panel.suggestedName.empty())
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), panel.suggestedName.c_str());
    if (!panel.filterSuffix.empty()) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, panel.filterName.c_str());
        gtk_file_filter_add_suffix(filter, panel.filterSuffix.c_str());
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
        g_object_unref(filter);
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_signal_connect(dialog, "response", G_CALLBACK(onPanelResponse), new PanelRun { std::move(done) });
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}

void setRevealResponder(std::function<void(const std::filesystem::path&)> responder)
{
    revealResponder() = std::move(responder);
}

namespace {

    void openFolderOf(const std::filesystem::path& file)
    {
        GFile* folder = g_file_new_for_path(file.parent_path().c_str());
        char* uri = g_file_get_uri(folder);
        // Launching may wait on D-Bus activation, so it is asked for and answered later.
        g_app_info_launch_default_for_uri_async(uri, nullptr, nullptr,
            +[](GObject*, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::string> shown(static_cast<std::string*>(data));
                GError* error = nullptr;
                if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
                    logLine("Could not reveal " + *shown + ": "
                        + (error ? error->message : "no file manager"));
                    g_clear_error(&error);
                }
            },
            new std::string(file.string()));
        g_free(uri);
        g_object_unref(folder);
    }

    // The file manager selects the file through its freedesktop interface on the session bus;
    // without one there, its folder is opened instead. Nothing here waits for an answer.
    void showItemInFileManager(const std::filesystem::path& file)
    {
        g_bus_get(G_BUS_TYPE_SESSION, nullptr,
            +[](GObject*, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::filesystem::path> file(
                    static_cast<std::filesystem::path*>(data));
                GDBusConnection* bus = g_bus_get_finish(result, nullptr);
                if (!bus) {
                    openFolderOf(*file);
                    return;
                }
                GFile* item = g_file_new_for_path(file->c_str());
                char* uri = g_file_get_uri(item);
                const char* uris[] = { uri, nullptr };
                g_dbus_connection_call(bus, "org.freedesktop.FileManager1",
                    "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1", "ShowItems",
                    g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
                    nullptr,
                    +[](GObject* source, GAsyncResult* called, gpointer held) {
                        std::unique_ptr<std::filesystem::path> file(
                            static_cast<std::filesystem::path*>(held));
                        GVariant* reply
                            = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), called, nullptr);
                        if (reply)
                            g_variant_unref(reply);
                        else
                            openFolderOf(*file);
                    },
                    file.release());
                g_free(uri);
                g_object_unref(item);
                g_object_unref(bus);
            },
            new std::filesystem::path(file));
    }

} // namespace

void revealInFileViewer(const std::filesystem::path& file)
{
    if (revealResponder()) {
        revealResponder()(file);
        return;
    }
    showItemInFileManager(file);
}

} // namespace qv
