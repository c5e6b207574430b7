// The script editor every script window uses: a text view that colours JavaScript in slices
// (the visible part first, the rest while the main loop is idle) with a line-number gutter.
#pragma once

#include "devtools/script_highlighting.h"

#include <gtkmm.h>

#include <string>
#include <vector>

namespace qv {

class ScriptEditorView : public Gtk::TextView {
public:
    ScriptEditorView();
    ~ScriptEditorView() override;
    ScriptEditorView(const ScriptEditorView&) = delete;
    ScriptEditorView& operator=(const ScriptEditorView&) = delete;

    // Replaces the whole text; the caret goes to the start.
    void setText(const std::string& text);
    // The current text (kept in step with the buffer, so asking is cheap).
    const std::string& text() const { return m_text; }
    // Emitted after every change of the text, once the first slice is coloured.
    sigc::signal<void()>& signalChanged() { return m_changed; }
    Glib::RefPtr<Gtk::TextBuffer> buffer() { return get_buffer(); }

    // For tests and benchmarks: whether the whole text is coloured, and the numbers the gutter
    // shows now (the lines at least partly on screen).
    bool colouringComplete() const { return m_colouringComplete; }
    std::vector<std::size_t> visibleLineNumbers() const;
    sigc::signal<void()>& signalColouringComplete() { return m_colouringDone; }
    // The longest single colouring slice so far, in milliseconds.
    double longestSliceMs() const { return m_longestSliceMs; }

private:
    struct GutterLabel {
        std::size_t number;
        int y; // top of the line in gutter coordinates
        int height;
    };
    std::vector<GutterLabel> gutterLabels() const;
    void drawGutter(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height);
    void updateGutterWidth();

    void textChanged();
    // Colours from the saved state on until `untilByte` or until the time budget is spent;
    // true when the whole text is coloured.
    bool colourSlice(std::size_t untilByte, double budgetMs);
    bool idleSlice();
    std::size_t visibleEndByte() const;

    Glib::RefPtr<Gtk::TextTag> m_tags[5];
    Gtk::DrawingArea* m_gutter = nullptr;
    std::string m_text;
    // Resume points, in text order; each is valid for m_text.
    std::vector<ScriptScanState> m_states;
    ScriptScanState m_next;
    bool m_colouringComplete = true;
    std::size_t m_numberedLines = 0;
    int m_gutterWidth = 0;
    double m_longestSliceMs = 0;
    sigc::connection m_idle;
    sigc::signal<void()> m_changed;
    sigc::signal<void()> m_colouringDone;
};

} // namespace qv
