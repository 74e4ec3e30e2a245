// Test-only driver of the GTK dialogs: shows the dialog named on the command
// line and prints what the program would see, one JSON object per line.
//
//   dialog_probe [options] error|info|yesno TEXT
//   dialog_probe [options] titled-error TITLE TEXT
//   dialog_probe [options] text PROMPT DEFAULT
//   dialog_probe [options] text-nested PROMPT DEFAULT
//   dialog_probe [options] save TITLE NAME FILTERS
//   dialog_probe [options] open TITLE FILTERS
//
// Options:
//   --main-window   show and focus a window titled "probe main" first, so the
//                   dialog has the program's active window as its owner
//   --in-main-loop  call the dialog from inside a running gtk_main()
//   --inspect       print {"shown": ...} with the dialog's window and widget
//                   facts as soon as it is on screen
//   --screenshot F  with --inspect: save the dialog's window as PNG file F
//   --repeat-text N a message text of N copies of "x" (error/info/yesno)
//
// "text-nested" opens a second input dialog while the first one waits and
// prints its result as {"nested": ...}.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/gtk_dialogs.h"

namespace {

using nlohmann::json;

struct Options {
  bool mainWindow = false;
  bool inMainLoop = false;
  bool inspect = false;
  long repeatText = -1;
  std::string screenshot;
  std::vector<std::string> args;
};

vm::GtkDialogs dialogs;
Options options;
GtkWidget* mainWindow = nullptr;
bool inspected = false;

void emit(const json& value) {
  std::printf("%s\n", value.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  std::fflush(stdout);
}

void collect(GtkWidget* widget, const char* typeName, std::vector<GtkWidget*>& found) {
  if (g_type_is_a(G_OBJECT_TYPE(widget), g_type_from_name(typeName))) found.push_back(widget);
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* item = children; item; item = item->next)
      collect(GTK_WIDGET(item->data), typeName, found);
    g_list_free(children);
  }
}

json boxOf(GtkWidget* widget, GtkWidget* window) {
  GtkAllocation allocation;
  gtk_widget_get_allocation(widget, &allocation);
  int x = 0, y = 0;
  gtk_widget_translate_coordinates(widget, window, 0, 0, &x, &y);
  return {x, y, allocation.width, allocation.height};
}

json describeWindow(GtkWidget* widget) {
  auto* window = GTK_WINDOW(widget);
  GtkWindow* owner = gtk_window_get_transient_for(window);
  json facts = {
      {"title", gtk_window_get_title(window) ? gtk_window_get_title(window) : ""},
      {"modal", static_cast<bool>(gtk_window_get_modal(window))},
      {"owner", owner && gtk_window_get_title(owner) ? json(gtk_window_get_title(owner)) : json()},
      {"utility", gtk_window_get_type_hint(window) == GDK_WINDOW_TYPE_HINT_UTILITY},
      {"skipTaskbar", static_cast<bool>(gtk_window_get_skip_taskbar_hint(window))},
      {"resizable", static_cast<bool>(gtk_window_get_resizable(window))},
      {"deletable", static_cast<bool>(gtk_window_get_deletable(window))},
  };
  GtkAllocation allocation;
  gtk_widget_get_allocation(widget, &allocation);
  facts["size"] = {allocation.width, allocation.height};

  std::vector<GtkWidget*> labels, entries, buttons, images, textViews;
  collect(widget, "GtkTextView", textViews);
  collect(widget, "GtkLabel", labels);
  collect(widget, "GtkEntry", entries);
  collect(widget, "GtkButton", buttons);
  collect(widget, "GtkImage", images);
  facts["labels"] = json::array();
  for (GtkWidget* label : labels) {
    if (!gtk_widget_get_visible(label) || gtk_widget_get_ancestor(label, GTK_TYPE_BUTTON)) continue;
    facts["labels"].push_back(
        {{"text", gtk_label_get_text(GTK_LABEL(label))},
         {"lines", pango_layout_get_line_count(gtk_label_get_layout(GTK_LABEL(label)))},
         {"box", boxOf(label, widget)}});
  }
  for (GtkWidget* view : textViews) {
    if (!gtk_widget_get_visible(view)) continue;
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    GtkTextIter begin, end;
    gtk_text_buffer_get_bounds(buffer, &begin, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &begin, &end, FALSE);
    facts["labels"].push_back({{"text", text}, {"box", boxOf(view, widget)}});
    g_free(text);
  }
  facts["entries"] = json::array();
  for (GtkWidget* entry : entries) {
    if (!gtk_widget_get_visible(entry)) continue;
    facts["entries"].push_back({{"text", gtk_entry_get_text(GTK_ENTRY(entry))},
                                {"focus", static_cast<bool>(gtk_widget_is_focus(entry))},
                                {"box", boxOf(entry, widget)}});
  }
  facts["buttons"] = json::array();
  for (GtkWidget* button : buttons) {
    if (!gtk_widget_get_visible(button) || !gtk_button_get_label(GTK_BUTTON(button))) continue;
    facts["buttons"].push_back(
        {{"label", gtk_button_get_label(GTK_BUTTON(button))}, {"box", boxOf(button, widget)}});
  }
  facts["icons"] = json::array();
  for (GtkWidget* image : images) {
    if (!gtk_widget_get_visible(image)) continue;
    const gchar* name = nullptr;
    if (gtk_image_get_storage_type(GTK_IMAGE(image)) == GTK_IMAGE_ICON_NAME)
      gtk_image_get_icon_name(GTK_IMAGE(image), &name, nullptr);
    if (name) facts["icons"].push_back(name);
  }
  if (GTK_IS_FILE_CHOOSER(widget)) {
    auto* chooser = GTK_FILE_CHOOSER(widget);
    json filters = json::array();
    GSList* list = gtk_file_chooser_list_filters(chooser);
    for (GSList* item = list; item; item = item->next)
      if (const gchar* name = gtk_file_filter_get_name(GTK_FILE_FILTER(item->data)))
        filters.push_back(name);
    g_slist_free(list);
    GtkFileFilter* current = gtk_file_chooser_get_filter(chooser);
    facts["filters"] = filters;
    facts["currentFilter"] =
        current && gtk_file_filter_get_name(current) ? gtk_file_filter_get_name(current) : "";
    facts["selectMultiple"] = static_cast<bool>(gtk_file_chooser_get_select_multiple(chooser));
    facts["confirmOverwrite"] =
        static_cast<bool>(gtk_file_chooser_get_do_overwrite_confirmation(chooser));
    if (gtk_file_chooser_get_action(chooser) == GTK_FILE_CHOOSER_ACTION_SAVE) {
      gchar* name = gtk_file_chooser_get_current_name(chooser);
      facts["currentName"] = name ? name : "";
      g_free(name);
    }
  }
  return facts;
}

gboolean reportAfterDraw(gpointer data) {
  if (!inspected) {
    inspected = true;
    emit({{"shown", describeWindow(GTK_WIDGET(data))}});
    if (!options.screenshot.empty()) {
      GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(data));
      if (GdkPixbuf* shot = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                       gdk_window_get_height(window))) {
        gdk_pixbuf_save(shot, options.screenshot.c_str(), "png", nullptr, nullptr);
        g_object_unref(shot);
      }
    }
  }
  g_object_unref(data);
  return G_SOURCE_REMOVE;
}

gboolean onFirstDraw(GtkWidget* widget, cairo_t*, gpointer) {
  g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(onFirstDraw), nullptr);
  g_idle_add(reportAfterDraw, g_object_ref(widget));
  return FALSE;
}

// Polls until the dialog is mapped, then reports it after its next draw,
// when its size and the widgets' places are settled.
gboolean inspectWhenShown(gpointer) {
  GList* toplevels = gtk_window_list_toplevels();
  GtkWidget* dialog = nullptr;
  for (GList* item = toplevels; item; item = item->next) {
    GtkWidget* widget = GTK_WIDGET(item->data);
    if (widget != mainWindow && gtk_widget_get_mapped(widget)) dialog = widget;
  }
  g_list_free(toplevels);
  if (!dialog) return G_SOURCE_CONTINUE;
  g_signal_connect_after(dialog, "draw", G_CALLBACK(onFirstDraw), nullptr);
  gtk_widget_queue_draw(dialog);
  return G_SOURCE_REMOVE;
}

gboolean openNested(gpointer) {
  bool confirmed = true;
  std::string text = dialogs.askText("nested", "second", &confirmed);
  emit({{"nested", {{"text", text}, {"confirmed", confirmed}}}});
  return G_SOURCE_REMOVE;
}

std::string messageText(const std::string& given) {
  return options.repeatText >= 0 ? std::string(static_cast<std::size_t>(options.repeatText), 'x')
                                 : given;
}

int runDialog() {
  const auto& a = options.args;
  const std::string& kind = a[0];
  auto need = [&](std::size_t n) {
    if (a.size() != n + 1) {
      std::fprintf(stderr, "%s needs %zu arguments\n", kind.c_str(), n);
      return false;
    }
    return true;
  };
  if (options.inspect) g_timeout_add(20, inspectWhenShown, nullptr);
  if (kind == "error" && need(1)) {
    dialogs.showError(messageText(a[1]));
    emit({{"result", "closed"}});
  } else if (kind == "titled-error" && need(2)) {
    dialogs.showTitledError(a[1], messageText(a[2]));
    emit({{"result", "closed"}});
  } else if (kind == "info" && need(1)) {
    dialogs.showInfo(messageText(a[1]));
    emit({{"result", "closed"}});
  } else if (kind == "yesno" && need(1)) {
    emit({{"result", dialogs.askYesNo(messageText(a[1]))}});
  } else if ((kind == "text" || kind == "text-nested") && need(2)) {
    if (kind == "text-nested") g_timeout_add(100, openNested, nullptr);
    bool confirmed = false;
    std::string text = dialogs.askText(a[1], a[2], &confirmed);
    emit({{"result", {{"text", text}, {"confirmed", confirmed}}}});
  } else if (kind == "save" && need(3)) {
    emit({{"result", dialogs.chooseSaveFile(a[1], a[2], vm::parseFilterList(a[3]))}});
  } else if (kind == "open" && need(2)) {
    emit({{"result", dialogs.chooseOpenFiles(a[1], vm::parseFilterList(a[2]))}});
  } else {
    return 2;
  }
  return 0;
}

int exitCode = 0;

gboolean runInsideMainLoop(gpointer) {
  exitCode = runDialog();
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

gboolean whenMainWindowActive(gpointer) {
  if (!gtk_window_is_active(GTK_WINDOW(mainWindow))) return G_SOURCE_CONTINUE;
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "no display\n");
    return 3;
  }
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--main-window"))
      options.mainWindow = true;
    else if (!std::strcmp(argv[i], "--in-main-loop"))
      options.inMainLoop = true;
    else if (!std::strcmp(argv[i], "--inspect"))
      options.inspect = true;
    else if (!std::strcmp(argv[i], "--screenshot") && i + 1 < argc)
      options.screenshot = argv[++i];
    else if (!std::strcmp(argv[i], "--repeat-text") && i + 1 < argc)
      options.repeatText = std::strtol(argv[++i], nullptr, 10);
    else
      options.args.emplace_back(argv[i]);
  }
  if (options.args.empty()) return 2;

  if (options.mainWindow) {
    mainWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(mainWindow), "probe main");
    gtk_window_set_default_size(GTK_WINDOW(mainWindow), 400, 300);
    gtk_widget_show_all(mainWindow);
    gtk_window_present(GTK_WINDOW(mainWindow));
    g_timeout_add(20, whenMainWindowActive, nullptr);
    gtk_main();
  }
  if (options.inMainLoop) {
    g_idle_add(runInsideMainLoop, nullptr);
    gtk_main();
  } else {
    exitCode = runDialog();
  }
  if (mainWindow) gtk_widget_destroy(mainWindow);
  return exitCode;
}
