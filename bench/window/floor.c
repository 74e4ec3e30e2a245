/* The floor of the engine: the least a WebKitGTK program does to show the
 * client's page and answer its script messages. One 1200x800 window at
 * (100, 100) holding one web view that loads argv[1]; the script message
 * handler "echo" answers every message with the message itself.
 *
 * The page comes from a loopback HTTPS server whose CA the system does not
 * trust; a certificate refused by the system store is allowed for its host
 * and the load retried, the same extra round the client makes under its
 * test CA (the client also checks the chain; this floor does not).
 *
 * Built only by bench/window/run.sh, never by the project's build. */
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

static gboolean on_echo(WebKitUserContentManager *manager, JSCValue *value,
                        WebKitScriptMessageReply *reply, gpointer data) {
  (void)manager;
  (void)data;
  webkit_script_message_reply_return_value(reply, value);
  return TRUE;
}

static gboolean on_tls_error(WebKitWebView *view, const char *uri, GTlsCertificate *certificate,
                             GTlsCertificateFlags errors, gpointer context) {
  (void)errors;
  GUri *parsed = g_uri_parse(uri, G_URI_FLAGS_NONE, NULL);
  if (!parsed) return FALSE;
  webkit_web_context_allow_tls_certificate_for_host(WEBKIT_WEB_CONTEXT(context), certificate,
                                                    g_uri_get_host(parsed));
  g_uri_unref(parsed);
  webkit_web_view_load_uri(view, uri);
  return TRUE;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    g_printerr("usage: floor URL\n");
    return 2;
  }
  gtk_init(&argc, &argv);
  GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "floor");
  gtk_window_set_default_size(GTK_WINDOW(window), 1200, 800);
  gtk_window_move(GTK_WINDOW(window), 100, 100);
  g_signal_connect(window, "delete-event", G_CALLBACK(gtk_main_quit), NULL);

  WebKitWebContext *context = webkit_web_context_new();
  WebKitUserContentManager *content = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler_with_reply(content, "echo", NULL);
  g_signal_connect(content, "script-message-with-reply-received::echo", G_CALLBACK(on_echo), NULL);
  GtkWidget *view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                            "user-content-manager", content, NULL));
  g_signal_connect(view, "load-failed-with-tls-errors", G_CALLBACK(on_tls_error), context);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_main();
  return 0;
}
