// The script editor: colouring in time-boxed slices, re-colouring from the last state an edit
// leaves valid, and a gutter that numbers the visible lines.
#include "devtools/script_editor_view.h"

#include <algorithm>
#include <chrono>

namespace qv {

namespace {

    // Small enough that a slice overruns its budget by little.
    constexpr std::size_t kChunkBytes = 2 * 1024;
    // What the first slice after an edit may take, and each idle slice after it.
    constexpr double kFirstSliceBudgetMs = 8;
    constexpr double kIdleSliceBudgetMs = 4;
    // Before the view has a size, the "visible part" is this much of the text.
    constexpr std::size_t kUnknownScreenBytes = 8 * 1024;

    constexpr ScriptTokenKind kKinds[] = { ScriptTokenKind::Keyword, ScriptTokenKind::String,
        ScriptTokenKind::Comment, ScriptTokenKind::Number, ScriptTokenKind::Literal };

    Gdk::RGBA rgba(const ScriptColour& colour)
    {
        Gdk::RGBA value;
        value.set_rgba(colour.red, colour.green, colour.blue, 1);
        return value;
    }

    double elapsedMs(std::chrono::steady_clock::time_point since)
    {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
            .count();
    }

    Pango::FontDescription gutterFont()
    {
        Pango::FontDescription font("Monospace");
        font.set_size(static_cast<int>(kScriptRulerFontSize * PANGO_SCALE));
        return font;
    }

} // namespace

ScriptEditorView::ScriptEditorView()
{
    auto table = get_buffer()->get_tag_table();
    for (ScriptTokenKind kind : kKinds) {
        auto tag = Gtk::TextTag::create();
        tag->property_foreground_rgba() = rgba(scriptColourOf(kind));
        table->add(tag);
        m_tags[static_cast<int>(kind)] = tag;
    }

    m_gutter = Gtk::make_managed<Gtk::DrawingArea>();
    m_gutter->set_draw_func(sigc::mem_fun(*this, &ScriptEditorView::drawGutter));
    gtk_text_view_set_gutter(gobj(), GTK_TEXT_WINDOW_LEFT, GTK_WIDGET(m_gutter->gobj()));
    updateGutterWidth();

    get_buffer()->signal_changed().connect(sigc::mem_fun(*this, &ScriptEditorView::textChanged));
    // The numbers follow the lines when the view scrolls or its layout settles.
    property_vadjustment().signal_changed().connect([this] {
        if (auto adjustment = get_vadjustment()) {
            adjustment->signal_value_changed().connect([this] { m_gutter->queue_draw(); });
            adjustment->signal_changed().connect([this] { m_gutter->queue_draw(); });
        }
    });
}

ScriptEditorView::~ScriptEditorView() { m_idle.disconnect(); }

void ScriptEditorView::setText(const std::string& text)
{
    get_buffer()->set_text(text);
    get_buffer()->place_cursor(get_buffer()->begin());
}

void ScriptEditorView::textChanged()
{
    std::string text = get_buffer()->get_text(true);
    auto [oldAt, newAt] = std::mismatch(m_text.begin(), m_text.end(), text.begin(), text.end());
    const auto editOffset = static_cast<std::size_t>(oldAt - m_text.begin());
    m_text = std::move(text);

    // Back to the last state the edit leaves standing; the tags after it stay until re-coloured.
    ScriptScanState resume;
    while (!m_states.empty()) {
        if (canResumeAfterEdit(m_states.back(), editOffset)) {
            resume = m_states.back();
            break;
        }
        m_states.pop_back();
    }
    m_next = resume;
    m_colouringComplete = false;

    if (colourSlice(visibleEndByte(), kFirstSliceBudgetMs)) {
        m_idle.disconnect();
    } else if (!m_idle.connected()) {
        m_idle = Glib::signal_idle().connect(sigc::mem_fun(*this, &ScriptEditorView::idleSlice));
    }

    updateGutterWidth();
    m_gutter->queue_draw();
    m_changed.emit();
}

bool ScriptEditorView::idleSlice() { return !colourSlice(0, kIdleSliceBudgetMs); }

bool ScriptEditorView::colourSlice(std::size_t untilByte, double budgetMs)
{
    auto started = std::chrono::steady_clock::now();
    auto buffer = get_buffer();
    bool first = true;
    while (!m_colouringComplete) {
        std::size_t target = m_next.offset + kChunkBytes;
        if (first)
            target = std::max(target, untilByte);
        first = false;

        ScriptColouring part = colourScriptLines(m_text, m_next, target);
        auto limited
            = limitScriptColouringPerLine(m_text, part.spans, m_next.offset, part.next.offset);
        const std::size_t anchorByte = m_next.offset;
        const std::size_t anchorCharacter = m_next.characterOffset;
        auto cleared
            = scriptCharacterRanges(m_text, limited.cleared, anchorByte, anchorCharacter);
        auto spans = scriptCharacterSpans(m_text, limited.spans, anchorByte, anchorCharacter);

        auto iterAt = [&](std::size_t character) {
            return buffer->get_iter_at_offset(static_cast<int>(character));
        };
        auto sliceEnd = [&] {
            return part.finished ? buffer->end() : iterAt(part.next.characterOffset);
        };
        // A long line is never touched, so that it is not laid out again; and tags go on from the
        // back, where a line's earlier stretches are still whole.
        for (const ScriptTextRange& range : cleared) {
            for (const auto& tag : m_tags)
                buffer->remove_tag(tag, iterAt(range.offset), iterAt(range.offset + range.length));
        }
        // Colours an edit carried into a long line (two lines joined) go as well.
        for (const auto& tag : m_tags) {
            auto toggle = iterAt(anchorCharacter);
            if (!toggle.has_tag(tag) && !(toggle.forward_to_tag_toggle(tag) && toggle < sliceEnd()))
                continue;
            buffer->remove_tag(tag, iterAt(anchorCharacter), sliceEnd());
        }
        for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
            buffer->apply_tag(m_tags[static_cast<int>(span->kind)], iterAt(span->offset),
                iterAt(span->offset + span->length));
        }

        m_next = part.next;
        m_longestSliceMs = std::max(m_longestSliceMs, elapsedMs(started));
        if (part.finished) {
            m_colouringComplete = true;
            m_colouringDone.emit();
            return true;
        }
        m_states.push_back(m_next);
        if (elapsedMs(started) >= budgetMs)
            return false;
    }
    return true;
}

std::size_t ScriptEditorView::visibleEndByte() const
{
    Gdk::Rectangle visible;
    const_cast<ScriptEditorView*>(this)->get_visible_rect(visible);
    if (visible.get_height() <= 0)
        return m_next.offset + kUnknownScreenBytes;
    // By line heights only: asking for the place under a point would lay out the lines first,
    // once without their colours and again with them.
    Gtk::TextIter end;
    int lineTop = 0;
    const_cast<ScriptEditorView*>(this)->get_line_at_y(
        end, visible.get_y() + visible.get_height(), lineTop);
    end.forward_line();
    auto character = static_cast<std::size_t>(end.get_offset());
    if (character <= m_next.characterOffset)
        return m_next.offset;
    // Walk from the resume point, which lies before the screen's end.
    const char* start = m_text.data() + m_next.offset;
    const char* stop = m_text.data() + m_text.size();
    const char* at = start;
    for (std::size_t n = m_next.characterOffset; n < character && at < stop; ++n) {
        const char* next = g_utf8_find_next_char(at, stop);
        at = next ? next : stop;
    }
    return m_next.offset + static_cast<std::size_t>(at - start);
}

std::vector<ScriptEditorView::GutterLabel> ScriptEditorView::gutterLabels() const
{
    std::vector<GutterLabel> labels;
    auto* self = const_cast<ScriptEditorView*>(this);
    if (m_text.empty())
        return labels;
    Gdk::Rectangle visible;
    self->get_visible_rect(visible);
    const int bottom = visible.get_y() + std::max(visible.get_height(), 1);
    const int lastLine = get_buffer()->get_line_count() - 1;
    Gtk::TextIter line;
    int lineTop = 0;
    self->get_line_at_y(line, visible.get_y(), lineTop);
    while (true) {
        int y = 0;
        int height = 0;
        self->get_line_yrange(line, y, height);
        if (y >= bottom)
            break;
        // A final empty line after a trailing break has no number.
        if (line.get_line() == lastLine && line.ends_line() && line.get_line() > 0)
            break;
        int windowX = 0;
        int windowY = 0;
        self->buffer_to_window_coords(Gtk::TextWindowType::LEFT, 0, y, windowX, windowY);
        labels.push_back({ static_cast<std::size_t>(line.get_line()) + 1, windowY, height });
        if (!line.forward_line())
            break;
    }
    return labels;
}

std::vector<std::size_t> ScriptEditorView::visibleLineNumbers() const
{
    std::vector<std::size_t> numbers;
    for (const GutterLabel& label : gutterLabels())
        numbers.push_back(label.number);
    return numbers;
}

void ScriptEditorView::updateGutterWidth()
{
    int lines = get_buffer()->get_line_count();
    auto end = get_buffer()->end();
    if (m_text.empty())
        lines = 0;
    else if (end.starts_line())
        --lines; // the empty line after a trailing break
    m_numberedLines = static_cast<std::size_t>(std::max(lines, 0));

    auto layout = create_pango_layout("0");
    layout->set_font_description(gutterFont());
    int digitWidth = 0;
    int digitHeight = 0;
    layout->get_pixel_size(digitWidth, digitHeight);
    int width = static_cast<int>(scriptRulerThickness(m_numberedLines, digitWidth) + 0.5);
    if (width != m_gutterWidth) {
        m_gutterWidth = width;
        m_gutter->set_content_width(width);
    }
}

void ScriptEditorView::drawGutter(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height)
{
    cr->set_source_rgb(0.1, 0.1, 0.1);
    cr->rectangle(0, 0, width, height);
    cr->fill();

    auto layout = create_pango_layout("");
    layout->set_font_description(gutterFont());
    int dividerTop = -1;
    int dividerBottom = -1;
    for (const GutterLabel& label : gutterLabels()) {
        layout->set_text(std::to_string(label.number));
        int labelWidth = 0;
        int labelHeight = 0;
        layout->get_pixel_size(labelWidth, labelHeight);
        cr->set_source_rgb(0.42, 0.44, 0.47);
        cr->move_to(scriptLineNumberX(width, labelWidth), label.y);
        layout->show_in_cairo_context(cr);
        if (dividerTop < 0)
            dividerTop = label.y;
        dividerBottom = label.y + label.height;
    }
    if (dividerTop >= 0) {
        cr->set_source_rgb(0.2, 0.2, 0.2);
        cr->set_line_width(1);
        cr->move_to(width - 0.5, std::max(dividerTop, 0));
        cr->line_to(width - 0.5, std::min(dividerBottom, height));
        cr->stroke();
    }
}

} // namespace qv
