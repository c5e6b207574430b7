// The downloads bar of the browser window.
#include "downloads/download_bar.h"

#include "app/view_helpers.h"
#include "downloads/download_permission_rules.h"

namespace qv {

DownloadBar::DownloadBar()
    : WindowBar("qv-download-bar", "folder-download-symbolic")
{
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
