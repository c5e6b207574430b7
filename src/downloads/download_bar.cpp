// The downloads bar of the browser window.
#include "downloads/download_bar.h"

#include "app/view_helpers.h"
#include "downloads/download_permission_rules.h"

namespace qv {

namespace {

constexpr const char* kDownloadBarCss = R"CSS(
.qv-download-bar-box { border-radius: 10px; border: 1px solid alpha(@borders, 0.8);
    background: alpha(@theme_base_color, 0.85); padding: 4px 10px; }
)CSS";

} // namespace

DownloadBar::DownloadBar()
{
    set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
    set_transition_duration(120);
    set_reveal_child(false);
    add_css_class("qv-download-bar");
    addApplicationStyleSheet(kDownloadBarCss);

    m_box.add_css_class("qv-download-bar-box");
    m_box.set_margin_start(12);
    m_box.set_margin_end(12);
    m_box.set_margin_top(6);
    m_box.set_margin_bottom(4);

    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name("folder-download-symbolic");
    m_box.append(*icon);
    m_label.set_xalign(0);
    m_label.set_hexpand(true);
    m_label.set_ellipsize(Pango::EllipsizeMode::END);
    m_box.append(m_label);

    m_allow.add_css_class("suggested-action");
    m_allow.signal_clicked().connect([this] {
        if (auto act = m_onAllow)
            act();
    });
    m_block.signal_clicked().connect([this] {
        if (auto act = m_onBlock)
            act();
    });
    m_showList.signal_clicked().connect([this] {
        if (auto act = m_onShowList)
            act();
    });
    m_close = symbolButton("window-close-symbolic", "Close", 16);
    m_close->add_css_class("flat");
    m_close->signal_clicked().connect([this] {
        if (auto act = m_onClose)
            act();
    });
    m_box.append(m_allow);
    m_box.append(m_block);
    m_box.append(m_showList);
    m_box.append(*m_close);
    set_child(m_box);
}

void DownloadBar::showQuestion(std::function<void()> allow, std::function<void()> block)
{
    m_onAllow = std::move(allow);
    m_onBlock = std::move(block);
    m_onShowList = nullptr;
    m_onClose = nullptr;
    m_label.set_text(std::string(kSeveralDownloadsQuestion));
    m_allow.set_visible(true);
    m_block.set_visible(true);
    m_showList.set_visible(false);
    m_close->set_visible(false);
    set_reveal_child(true);
}

void DownloadBar::showNotice(
    const std::string& message, std::function<void()> showList, std::function<void()> close)
{
    m_onAllow = nullptr;
    m_onBlock = nullptr;
    m_onShowList = std::move(showList);
    m_onClose = std::move(close);
    m_label.set_text(message);
    m_allow.set_visible(false);
    m_block.set_visible(false);
    m_showList.set_visible(true);
    m_close->set_visible(true);
    set_reveal_child(true);
}

void DownloadBar::hideBar()
{
    m_onAllow = m_onBlock = m_onShowList = m_onClose = nullptr;
    set_reveal_child(false);
}

} // namespace qv
