#include "platform/progress_indicator.h"

#include <gtk/gtk.h>

namespace vm {

namespace {

constexpr int kWindowSize = 100;
constexpr int kTextMargin = 1;
constexpr int kTextSize = 98;
// In pixels, not points, so that the circles fill most of the 98-pixel field
// whatever the screen's resolution.
constexpr int kFontPixels = 60;
constexpr const char* kFontFamily = "Arial";
// A source that is always ready must not keep one pass from returning.
constexpr int kMostEventsPerPass = 100;

struct FontDescriptionFree {
  void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
struct AttrListUnref {
  void operator()(PangoAttrList* l) const { pango_attr_list_unref(l); }
};

// The font is used only when the font system can give a font for it; with
// fontconfig that is also a metric-compatible substitute.
void useIndicatorFont(GtkWidget* label) {
  std::unique_ptr<PangoFontDescription, FontDescriptionFree> font(pango_font_description_new());
  pango_font_description_set_family(font.get(), kFontFamily);
  pango_font_description_set_absolute_size(font.get(), kFontPixels * PANGO_SCALE);
  PangoFont* loaded = pango_context_load_font(gtk_widget_get_pango_context(label), font.get());
  if (loaded == nullptr) return;
  g_object_unref(loaded);
  std::unique_ptr<PangoAttrList, AttrListUnref> attributes(pango_attr_list_new());
  pango_attr_list_insert(attributes.get(), pango_attr_font_desc_new(font.get()));
  gtk_label_set_attributes(GTK_LABEL(label), attributes.get());
}

class GtkProgressIndicator : public ProgressIndicator {
 public:
  GtkProgressIndicator() {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    // Our own reference: the pointer stays valid until the destructor,
    // whatever else destroys the window.
    g_object_ref(window_);
    auto* window = GTK_WINDOW(window_);
    gtk_window_set_title(window, "");
    gtk_window_set_decorated(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_accept_focus(window, FALSE);
    gtk_window_set_focus_on_map(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_widget_set_size_request(window_, kWindowSize, kWindowSize);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window_), fixed);
    label_ = gtk_label_new("");
    gtk_label_set_justify(GTK_LABEL(label_), GTK_JUSTIFY_CENTER);
    gtk_label_set_xalign(GTK_LABEL(label_), 0.5F);
    gtk_label_set_yalign(GTK_LABEL(label_), 0.5F);
    gtk_widget_set_size_request(label_, kTextSize, kTextSize);
    useIndicatorFont(label_);
    gtk_fixed_put(GTK_FIXED(fixed), label_, kTextMargin, kTextMargin);
    gtk_widget_show_all(window_);
  }

  ~GtkProgressIndicator() override {
    gtk_widget_destroy(window_);
    g_object_unref(window_);
    // Let the X server hear of the unmapping before the caller moves on.
    handlePendingEvents();
  }

  GtkProgressIndicator(const GtkProgressIndicator&) = delete;
  GtkProgressIndicator& operator=(const GtkProgressIndicator&) = delete;

  void showText(const std::string& text) override {
    gtk_label_set_text(GTK_LABEL(label_), text.c_str());
  }

  void handlePendingEvents() override {
    for (int i = 0; i < kMostEventsPerPass && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
  }

 private:
  GtkWidget* window_ = nullptr;
  GtkWidget* label_ = nullptr;
};

}  // namespace

std::unique_ptr<ProgressIndicator> openProgressIndicator() {
  return std::make_unique<GtkProgressIndicator>();
}

}  // namespace vm
