#include "platform/gtk_dialogs.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <memory>

#include "base/text.h"
#include "base/utf8.h"

namespace vm {
namespace {

constexpr const char* kTitle = "velomark";

// A message longer than 65535 characters is cut to its first 65534, so that
// a runaway text cannot build a giant label.
constexpr glong kLongestMessage = 65535;
constexpr glong kCutMessageTo = 65534;

struct GFreeDeleter {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

// Toplevel windows belong to GTK and go away on destroy; the extra
// reference keeps the pointer valid even when something else destroys the
// window while its dialog is running.
struct WindowDestroyer {
  void operator()(GtkWidget* w) const {
    gtk_widget_destroy(w);
    g_object_unref(w);
  }
};
using WindowHandle = std::unique_ptr<GtkWidget, WindowDestroyer>;

WindowHandle ownWindow(GtkWidget* window) {
  g_object_ref(window);
  return WindowHandle(window);
}

struct MainLoopUnref {
  void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};
using MainLoopHandle = std::unique_ptr<GMainLoop, MainLoopUnref>;

struct ObjectUnref {
  void operator()(gpointer p) const { g_object_unref(p); }
};
using CssProviderHandle = std::unique_ptr<GtkCssProvider, ObjectUnref>;

struct AttrListUnref {
  void operator()(PangoAttrList* list) const { pango_attr_list_unref(list); }
};
using AttrListHandle = std::unique_ptr<PangoAttrList, AttrListUnref>;

struct FileListFree {
  void operator()(GSList* list) const { g_slist_free_full(list, g_free); }
};
using FileListHandle = std::unique_ptr<GSList, FileListFree>;

// GTK cannot open a window before it is initialised with a display; the
// caller may run without one (a headless start), so check first.
bool displayReady() {
  if (gdk_display_get_default()) return true;
  return gtk_init_check(nullptr, nullptr) && gdk_display_get_default();
}

// The program's window that has the keyboard focus, so that the dialog is
// stacked above it and blocks it; none when another program is in front.
GtkWindow* activeWindow() {
  GList* toplevels = gtk_window_list_toplevels();
  GtkWindow* found = nullptr;
  for (GList* item = toplevels; item; item = item->next) {
    auto* window = GTK_WINDOW(item->data);
    if (gtk_widget_get_visible(GTK_WIDGET(window)) && gtk_window_is_active(window)) {
      found = window;
      break;
    }
  }
  g_list_free(toplevels);
  return found;
}

// A message of many thousand characters would make a window taller than X
// can map (32767 pixels) and leave the button out of reach, so the text sits
// in a scroller that grows with it up to a bound. Beyond a few thousand
// characters a wrapped label measures itself far too slowly (tens of
// seconds for one long word), so such texts go into a read-only text view
// of fixed size.
constexpr int kMessageWidthChars = 60;
constexpr int kMessageMaxHeight = 400;
constexpr glong kLongestLabelText = 1000;
constexpr int kLongMessageWidth = 480;
constexpr int kLongMessageHeight = 300;

GtkWidget* newMessageScroller() {
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_NONE);
  return scroller;
}

GtkWidget* shortMessage(const std::string& text) {
  GtkWidget* scroller = newMessageScroller();
  auto* scrolled = GTK_SCROLLED_WINDOW(scroller);
  gtk_scrolled_window_set_propagate_natural_width(scrolled, TRUE);
  gtk_scrolled_window_set_propagate_natural_height(scrolled, TRUE);
  gtk_scrolled_window_set_max_content_height(scrolled, kMessageMaxHeight);
  GtkWidget* label = gtk_label_new(text.c_str());
  auto* gtkLabel = GTK_LABEL(label);
  gtk_label_set_line_wrap(gtkLabel, TRUE);
  gtk_label_set_line_wrap_mode(gtkLabel, PANGO_WRAP_WORD_CHAR);
  gtk_label_set_max_width_chars(gtkLabel, kMessageWidthChars);
  gtk_label_set_xalign(gtkLabel, 0.0F);
  gtk_label_set_yalign(gtkLabel, 0.0F);
  gtk_container_add(GTK_CONTAINER(scroller), label);
  if (GtkWidget* viewport = gtk_bin_get_child(GTK_BIN(scroller)); GTK_IS_VIEWPORT(viewport))
    gtk_viewport_set_shadow_type(GTK_VIEWPORT(viewport), GTK_SHADOW_NONE);
  return scroller;
}

// Word wrapping of one very long unbroken run costs time quadratic in its
// length (seconds for a few ten thousand characters); breaking anywhere is
// linear and reads no worse for such text.
bool hasHugeWord(const std::string& text) {
  constexpr std::size_t kHugeWord = 200;
  std::size_t run = 0;
  for (char c : text) {
    run = (c == ' ' || c == '\n' || c == '\r' || c == '\t') ? 0 : run + 1;
    if (run > kHugeWord) return true;
  }
  return false;
}

GtkWidget* longMessage(const std::string& text) {
  GtkWidget* scroller = newMessageScroller();
  gtk_widget_set_size_request(scroller, kLongMessageWidth, kLongMessageHeight);
  GtkWidget* view = gtk_text_view_new();
  auto* textView = GTK_TEXT_VIEW(view);
  gtk_text_view_set_editable(textView, FALSE);
  gtk_text_view_set_cursor_visible(textView, FALSE);
  gtk_text_view_set_wrap_mode(textView, hasHugeWord(text) ? GTK_WRAP_CHAR : GTK_WRAP_WORD_CHAR);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(textView), text.data(),
                           static_cast<gint>(text.size()));
  gtk_container_add(GTK_CONTAINER(scroller), view);
  return scroller;
}

void showMessageText(GtkMessageDialog* dialog, const std::string& text) {
  GtkWidget* area = gtk_message_dialog_get_message_area(dialog);
  GList* children = gtk_container_get_children(GTK_CONTAINER(area));
  for (GList* item = children; item; item = item->next)
    if (GTK_IS_LABEL(item->data)) gtk_widget_hide(GTK_WIDGET(item->data));
  g_list_free(children);
  const bool isLong =
      g_utf8_strlen(text.data(), static_cast<gssize>(text.size())) > kLongestLabelText;
  GtkWidget* shown = isLong ? longMessage(text) : shortMessage(text);
  gtk_box_pack_start(GTK_BOX(area), shown, TRUE, TRUE, 0);
  gtk_widget_show_all(shown);
}

// Presenting a window that is already shown is what hands it the keyboard
// focus (and raises it) where no window manager does that for new windows.
int runShown(GtkWidget* dialog) {
  gtk_widget_show(dialog);
  gtk_window_present(GTK_WINDOW(dialog));
  return gtk_dialog_run(GTK_DIALOG(dialog));
}

// defaultResponse names the button that Return presses and that holds the
// focus: OK, or Yes in the question (its first button, as on the platform
// the boxes come from).
int runMessageBox(GtkMessageType type, GtkButtonsType buttons, int defaultResponse,
                  const char* iconName, const std::string& text, const char* title = kTitle) {
  if (!displayReady()) {
    std::fprintf(stderr, "%s: %s\n", title, text.c_str());
    return GTK_RESPONSE_NONE;
  }
  WindowHandle dialog =
      ownWindow(gtk_message_dialog_new(activeWindow(), GTK_DIALOG_MODAL, type, buttons, nullptr));
  gtk_window_set_title(GTK_WINDOW(dialog.get()), title);
  showMessageText(GTK_MESSAGE_DIALOG(dialog.get()), messageBoxText(text));
  // GTK 3 no longer draws the message type's icon by itself; the boxes are
  // meant to show one, and the explicit image is still honoured.
  GtkWidget* image = gtk_image_new_from_icon_name(iconName, GTK_ICON_SIZE_DIALOG);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog.get()), image);
  G_GNUC_END_IGNORE_DEPRECATIONS
  gtk_widget_show(image);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), defaultResponse);
  if (GtkWidget* button =
          gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog.get()), defaultResponse))
    gtk_widget_grab_focus(button);
  return runShown(dialog.get());
}

// The input dialog's state while its nested loop runs.
struct AskTextRun {
  GMainLoop* loop = nullptr;
  GtkEntry* entry = nullptr;
  bool finished = false;
  bool accepted = false;
  std::string answer;
};

void finishAskText(AskTextRun& run, bool accept) {
  if (run.finished) return;
  run.finished = true;
  run.accepted = accept && run.entry;
  if (run.accepted) run.answer = gtk_entry_get_text(run.entry);
  g_main_loop_quit(run.loop);
}

gboolean onAskTextKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto& run = *static_cast<AskTextRun*>(data);
  switch (event->keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
      finishAskText(run, true);
      return TRUE;
    case GDK_KEY_Escape:
      finishAskText(run, false);
      return TRUE;
    default:
      return FALSE;
  }
}

gboolean onAskTextDelete(GtkWidget*, GdkEvent*, gpointer data) {
  finishAskText(*static_cast<AskTextRun*>(data), false);
  return TRUE;  // the window is destroyed by its owner after the loop
}

void onAskTextDestroy(GtkWidget*, gpointer data) {
  auto& run = *static_cast<AskTextRun*>(data);
  run.entry = nullptr;
  finishAskText(run, false);
}

void onAskTextOk(GtkButton*, gpointer data) {
  finishAskText(*static_cast<AskTextRun*>(data), true);
}

// GTK drops the close request of a window that the dialog's modal grab
// shuts out (the main window's close button, Alt+F4 there), and the user's
// request would be lost. While the input dialog runs, such a request, and
// its own, cancel it. Windows stacked above it (a box of a bridge call that
// ran meanwhile) keep theirs.
class CloseRequestsCancel {
 public:
  CloseRequestsCancel(AskTextRun& run, GtkWidget* dialog) : run_(run), dialog_(dialog) {
    gdk_event_handler_set(onEvent, this, nullptr);
  }
  // GTK's own handler again, as gtk_init installed it.
  ~CloseRequestsCancel() {
    gdk_event_handler_set([](GdkEvent* event, gpointer) { gtk_main_do_event(event); }, nullptr,
                          nullptr);
  }
  CloseRequestsCancel(const CloseRequestsCancel&) = delete;
  CloseRequestsCancel& operator=(const CloseRequestsCancel&) = delete;

 private:
  static void onEvent(GdkEvent* event, gpointer self) {
    auto* me = static_cast<CloseRequestsCancel*>(self);
    if (event->type == GDK_DELETE && me->cancels(event->any.window)) {
      finishAskText(me->run_, false);
      return;
    }
    gtk_main_do_event(event);
  }

  bool cancels(GdkWindow* window) const {
    gpointer data = nullptr;
    if (window) gdk_window_get_user_data(window, &data);
    if (!data || !GTK_IS_WINDOW(data)) return false;
    auto* target = GTK_WINDOW(data);
    return GTK_WIDGET(target) == dialog_ || !gtk_window_get_modal(target);
  }

  AskTextRun& run_;
  GtkWidget* dialog_;
};

// The fixed layout needs the entry 25 and the button 40 by 25 pixels; the
// default theme asks for more (34 pixels high, wide padding), which would
// make the widgets overlap.
constexpr const char* kCompactCss =
    "entry { min-height: 0; padding-top: 2px; padding-bottom: 2px; }"
    "button { min-height: 0; min-width: 0; padding: 0; }";

void makeCompact(GtkWidget* widget, GtkCssProvider* css) {
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(css),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

// The prompt box is 330 by 100 pixels, sized for the small dialog font of
// the platform the layout comes from; desktop fonts here are larger, so a
// prompt that would not fit is drawn smaller (down to a legible limit)
// before the scroller has to take over.
void fitPrompt(GtkLabel* label, int width, int height) {
  for (double scale : {1.0, 0.9, 0.8, 0.7}) {
    AttrListHandle attributes(pango_attr_list_new());
    pango_attr_list_insert(attributes.get(), pango_attr_scale_new(scale));
    gtk_label_set_attributes(label, attributes.get());
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height_for_width(GTK_WIDGET(label), width, &minimum, &natural);
    if (minimum <= height) return;
  }
}

void addFilters(GtkFileChooser* chooser, const std::vector<FileFilter>& filters) {
  bool first = true;
  for (const auto& filter : filters) {
    GtkFileFilter* gtkFilter = gtk_file_filter_new();
    gtk_file_filter_set_name(gtkFilter, validUtf8(filter.description).c_str());
    std::string::size_type start = 0;
    while (start <= filter.patterns.size()) {
      auto semicolon = filter.patterns.find(';', start);
      auto pattern = filter.patterns.substr(
          start, semicolon == std::string::npos ? std::string::npos : semicolon - start);
      if (!pattern.empty())
        gtk_file_filter_add_pattern(gtkFilter, filterPatternForGtk(pattern).c_str());
      if (semicolon == std::string::npos) break;
      start = semicolon + 1;
    }
    gtk_file_chooser_add_filter(chooser, gtkFilter);  // takes the floating reference
    if (first) gtk_file_chooser_set_filter(chooser, gtkFilter);
    first = false;
  }
}

WindowHandle newFileChooser(const std::string& title, GtkFileChooserAction action,
                            const char* acceptLabel, const std::vector<FileFilter>& filters) {
  // GTK's own translations give the buttons the user's language.
  WindowHandle dialog = ownWindow(gtk_file_chooser_dialog_new(
      validUtf8(title).c_str(), activeWindow(), action, g_dgettext("gtk30", "_Cancel"),
      GTK_RESPONSE_CANCEL, g_dgettext("gtk30", acceptLabel), GTK_RESPONSE_ACCEPT, nullptr));
  gtk_window_set_modal(GTK_WINDOW(dialog.get()), TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_ACCEPT);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog.get()), TRUE);
  addFilters(GTK_FILE_CHOOSER(dialog.get()), filters);
  return dialog;
}

}  // namespace

std::string messageBoxText(const std::string& text) {
  std::string valid = validUtf8(text);
  if (g_utf8_strlen(valid.data(), static_cast<gssize>(valid.size())) <= kLongestMessage)
    return valid;
  const gchar* end = g_utf8_offset_to_pointer(valid.data(), kCutMessageTo);
  return valid.substr(0, static_cast<std::string::size_type>(end - valid.data()));
}

std::string filterPatternForGtk(const std::string& pattern) {
  if (pattern == "*.*") return "*";
  std::string result;
  bool inBrackets = false;
  for (char c : pattern) {
    if (inBrackets) {
      result += c;
      if (c == ']') inBrackets = false;
    } else if (c == '[') {
      result += c;
      inBrackets = true;
    } else if (isAsciiLetter(c)) {
      result += '[';
      result += lowerAscii(c);
      result += upperAscii(c);
      result += ']';
    } else {
      result += c;
    }
  }
  return result;
}

void GtkDialogs::showError(const std::string& text) {
  runMessageBox(GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, GTK_RESPONSE_OK, "dialog-error", text);
}

void GtkDialogs::showTitledError(const std::string& title, const std::string& text) {
  runMessageBox(GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, GTK_RESPONSE_OK, "dialog-error", text,
                validUtf8(title).c_str());
}

void GtkDialogs::showInfo(const std::string& text) {
  runMessageBox(GTK_MESSAGE_INFO, GTK_BUTTONS_OK, GTK_RESPONSE_OK, "dialog-information", text);
}

bool GtkDialogs::askYesNo(const std::string& text) {
  return runMessageBox(GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, GTK_RESPONSE_YES,
                       "dialog-information", text) == GTK_RESPONSE_YES;
}

std::string GtkDialogs::askText(const std::string& prompt, const std::string& defaultText,
                                bool* confirmed) {
  if (confirmed) *confirmed = false;
  if (askTextRunning_ || !displayReady()) return {};
  askTextRunning_ = true;

  MainLoopHandle loop(g_main_loop_new(nullptr, FALSE));
  AskTextRun run;
  run.loop = loop.get();

  WindowHandle window = ownWindow(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  auto* gtkWindow = GTK_WINDOW(window.get());
  gtk_window_set_title(gtkWindow, kTitle);
  gtk_window_set_type_hint(gtkWindow, GDK_WINDOW_TYPE_HINT_UTILITY);
  gtk_window_set_skip_taskbar_hint(gtkWindow, TRUE);
  gtk_window_set_skip_pager_hint(gtkWindow, TRUE);
  gtk_window_set_resizable(gtkWindow, FALSE);
  gtk_window_set_deletable(gtkWindow, FALSE);
  gtk_window_set_position(gtkWindow, GTK_WIN_POS_CENTER);
  gtk_window_set_modal(gtkWindow, TRUE);
  gtk_window_set_transient_for(gtkWindow, activeWindow());

  CssProviderHandle css(gtk_css_provider_new());
  gtk_css_provider_load_from_data(css.get(), kCompactCss, -1, nullptr);

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, 350, 180);
  gtk_container_add(GTK_CONTAINER(window.get()), fixed);

  // The label sits in a scroller of the fixed size so a long prompt scrolls
  // instead of pushing the field and the button out of the window.
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_NONE);
  gtk_widget_set_size_request(scroller, 330, 100);
  GtkWidget* label = gtk_label_new(validUtf8(prompt).c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0F);
  gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_LEFT);
  gtk_widget_set_halign(label, GTK_ALIGN_FILL);
  gtk_widget_set_valign(label, GTK_ALIGN_START);
  gtk_container_add(GTK_CONTAINER(scroller), label);
  if (GtkWidget* viewport = gtk_bin_get_child(GTK_BIN(scroller)); GTK_IS_VIEWPORT(viewport))
    gtk_viewport_set_shadow_type(GTK_VIEWPORT(viewport), GTK_SHADOW_NONE);
  gtk_fixed_put(GTK_FIXED(fixed), scroller, 10, 10);

  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), validUtf8(defaultText).c_str());
  gtk_widget_set_size_request(entry, 330, 25);
  makeCompact(entry, css.get());
  gtk_fixed_put(GTK_FIXED(fixed), entry, 10, 120);
  run.entry = GTK_ENTRY(entry);

  GtkWidget* ok = gtk_button_new_with_label("  OK  ");
  gtk_widget_set_size_request(ok, 40, 25);
  makeCompact(ok, css.get());
  gtk_fixed_put(GTK_FIXED(fixed), ok, 155, 150);

  // Connected on the window itself, so Return and Escape are seen before
  // whichever child has the focus could use them.
  g_signal_connect(window.get(), "key-press-event", G_CALLBACK(onAskTextKey), &run);
  g_signal_connect(window.get(), "delete-event", G_CALLBACK(onAskTextDelete), &run);
  g_signal_connect(window.get(), "destroy", G_CALLBACK(onAskTextDestroy), &run);
  g_signal_connect(ok, "clicked", G_CALLBACK(onAskTextOk), &run);

  // A tool window with a title only: no window menu, no minimise, maximise
  // or close button (window managers that honour the hints).
  gtk_widget_realize(window.get());
  if (GdkWindow* gdkWindow = gtk_widget_get_window(window.get())) {
    gdk_window_set_decorations(gdkWindow,
                               static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE));
    gdk_window_set_functions(gdkWindow, GDK_FUNC_MOVE);
  }

  gtk_widget_show_all(window.get());
  // Hidden widgets ask for no space, so the prompt is measured once shown.
  fitPrompt(GTK_LABEL(label), 330, 100);
  gtk_widget_grab_focus(entry);
  gtk_window_present(gtkWindow);

  {
    CloseRequestsCancel closeRequests(run, window.get());
    g_main_loop_run(loop.get());
  }

  g_signal_handlers_disconnect_by_data(window.get(), &run);
  if (run.entry) g_signal_handlers_disconnect_by_data(ok, &run);
  window.reset();
  askTextRunning_ = false;
  if (confirmed) *confirmed = run.accepted;
  return run.accepted ? run.answer : std::string();
}

std::string GtkDialogs::chooseSaveFile(const std::string& title, const std::string& proposedName,
                                       const std::vector<FileFilter>& filters) {
  if (!displayReady()) return {};
  WindowHandle dialog = newFileChooser(title, GTK_FILE_CHOOSER_ACTION_SAVE, "_Save", filters);
  auto* chooser = GTK_FILE_CHOOSER(dialog.get());
  // Replacing an existing file is the caller's decision.
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, FALSE);
  if (!proposedName.empty())
    gtk_file_chooser_set_current_name(chooser, validUtf8(proposedName).c_str());
  if (runShown(dialog.get()) != GTK_RESPONSE_ACCEPT) return {};
  GCharPtr path(gtk_file_chooser_get_filename(chooser));
  return path ? std::string(path.get()) : std::string();
}

std::vector<std::string> GtkDialogs::chooseOpenFiles(const std::string& title,
                                                     const std::vector<FileFilter>& filters) {
  if (!displayReady()) return {};
  WindowHandle dialog = newFileChooser(title, GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", filters);
  auto* chooser = GTK_FILE_CHOOSER(dialog.get());
  gtk_file_chooser_set_select_multiple(chooser, TRUE);
  if (runShown(dialog.get()) != GTK_RESPONSE_ACCEPT) return {};
  std::vector<std::string> paths;
  FileListHandle files(gtk_file_chooser_get_filenames(chooser));
  for (GSList* item = files.get(); item; item = item->next)
    paths.emplace_back(static_cast<const char*>(item->data));
  return paths;
}

}  // namespace vm
