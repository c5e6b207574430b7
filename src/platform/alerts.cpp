// Modal alerts, over a nested main loop or answered later.
#include "platform/alerts.h"

#include <gtk/gtk.h>

namespace qv {

namespace {

AlertResponder& responder()
{
    static AlertResponder instance;
    return instance;
}

std::function<std::string(const AlertSpec&)>& fieldResponder()
{
    static std::function<std::string(const AlertSpec&)> instance;
    return instance;
}

struct AlertRun {
    GMainLoop* loop = nullptr;
    int response = -1;
};

void onResponse(GtkDialog*, int responseId, gpointer data)
{
    auto* run = static_cast<AlertRun*>(data);
    run->response = responseId >= 0 ? responseId : -1;
    if (g_main_loop_is_running(run->loop))
        g_main_loop_quit(run->loop);
}

GtkWidget* newAlertDialog(GtkWindow* parent, const AlertSpec& alert)
{
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
        GTK_BUTTONS_NONE, "%s", alert.messageText.c_str());
    if (!alert.informativeText.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
            alert.informativeText.c_str());
    for (size_t i = 0; i < alert.buttons.size(); ++i)
        gtk_dialog_add_button(GTK_DIALOG(dialog), alert.buttons[i].c_str(), static_cast<int>(i));
    if (!alert.buttons.empty())
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_window_set_title(GTK_WINDOW(dialog), alert.messageText.c_str());
    return dialog;
}

using AlertAnswered = std::function<void(int)>;

void deliverLaterAlertAnswer(int answer, AlertAnswered answered)
{
    struct Later {
        int answer;
        AlertAnswered answered;
    };
    g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE,
        +[](gpointer data) -> gboolean {
            auto* later = static_cast<Later*>(data);
            later->answered(later->answer);
            return G_SOURCE_REMOVE;
        },
        new Later { answer, std::move(answered) },
        +[](gpointer data) { delete static_cast<Later*>(data); });
}

} // namespace

void setAlertResponder(AlertResponder r) { responder() = std::move(r); }

void setAlertFieldResponder(std::function<std::string(const AlertSpec&)> r)
{
    fieldResponder() = std::move(r);
}

int runModalAlert(GtkWindow* parent, const AlertSpec& alert, AlertTextField* textField)
{
    if (responder()) {
        if (auto answer = responder()(alert)) {
            if (textField)
                textField->text = fieldResponder() ? fieldResponder()(alert) : std::string();
            return *answer;
        }
    }
    GtkWidget* dialog = newAlertDialog(parent, alert);
    GtkWidget* field = nullptr;
    if (textField) {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
        G_GNUC_END_IGNORE_DEPRECATIONS
        field = gtk_entry_new();
        gtk_widget_set_size_request(field, 380, 28);
        gtk_entry_set_placeholder_text(GTK_ENTRY(field), textField->placeholder.c_str());
        gtk_entry_set_activates_default(GTK_ENTRY(field), TRUE);
        gtk_box_append(GTK_BOX(area), field);
    }

    AlertRun run;
    run.loop = g_main_loop_new(nullptr, FALSE);
    g_signal_connect(dialog, "response", G_CALLBACK(onResponse), &run);
    gtk_window_present(GTK_WINDOW(dialog));
    if (field)
        gtk_widget_grab_focus(field);
    g_main_loop_run(run.loop);
    if (field)
        textField->text = gtk_editable_get_text(GTK_EDITABLE(field));
    g_main_loop_unref(run.loop);
    gtk_window_destroy(GTK_WINDOW(dialog));
    return run.response;
}

void showAlert(GtkWindow* parent, const AlertSpec& alert, std::function<void(int)> answered)
{
    if (responder()) {
        if (auto answer = responder()(alert)) {
            deliverLaterAlertAnswer(*answer, std::move(answered));
            return;
        }
    }
    GtkWidget* dialog = newAlertDialog(parent, alert);
    // The answer is kept with the dialog's handler and freed with it.
    g_signal_connect_data(dialog, "response",
        G_CALLBACK(+[](GtkDialog* shown, int responseId, gpointer data) {
            AlertAnswered done = std::move(*static_cast<AlertAnswered*>(data));
            gtk_window_destroy(GTK_WINDOW(shown));
            if (done)
                done(responseId >= 0 ? responseId : -1);
        }),
        new AlertAnswered(std::move(answered)),
        +[](gpointer data, GClosure*) { delete static_cast<AlertAnswered*>(data); },
        static_cast<GConnectFlags>(0));
    gtk_window_present(GTK_WINDOW(dialog));
}

bool runConfirmationAlert(GtkWindow* parent, const Confirmation& confirmation)
{
    int answer = runModalAlert(
        parent, { confirmation.message, confirmation.informativeText, confirmation.buttons });
    return answer >= 0 && confirmation.confirmedBy(static_cast<size_t>(answer));
}

} // namespace qv
