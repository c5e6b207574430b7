// The bar under the toolbar that asks about a page's further downloads, or says that one of
// them failed, without stopping anything else in the window.
#pragma once

#include "app/window_bar.h"

#include <gtkmm.h>

#include <functional>
#include <string>

namespace qv {

class DownloadBar : public WindowBar {
public:
    DownloadBar();

    // "This site wants to download several files" with Allow and Block.
    void showQuestion(std::function<void()> allow, std::function<void()> block);
    // A failure notice with Show Downloads and a close button.
    void showNotice(
        const std::string& message, std::function<void()> showList, std::function<void()> close);
    void hideBar();

    bool asking() const { return get_reveal_child() && m_allow.get_visible(); }
    bool noticeShown() const { return get_reveal_child() && m_showList.get_visible(); }
    Gtk::Button& allowButton() { return m_allow; }
    Gtk::Button& blockButton() { return m_block; }
    Gtk::Button& showListButton() { return m_showList; }
    Gtk::Button& closeButton() { return *m_close; }

private:
    Gtk::Button m_allow { "Allow" };
    Gtk::Button m_block { "Block" };
    Gtk::Button m_showList { "Show Downloads" };
    Gtk::Button* m_close = nullptr;
    std::function<void()> m_onAllow, m_onBlock, m_onShowList, m_onClose;
};

} // namespace qv
