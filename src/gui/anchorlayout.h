// SPDX-License-Identifier: MIT
#pragma once
// Keeps a window's controls placed when the window is resized. Each control says in its "Tag" property
// (a dynamic property holding a text) how it follows the window's growth:
//   "X=" share of the extra width that moves it right     "W=" share of the extra width that widens it
//   "Y=" share of the extra height that moves it down     "H=" share of the extra height that heightens it
// separated by spaces, in any order; a missing key counts as 0. A value is a whole number or a fraction
// "2/3". Geometry is recorded once, at registration, together with the window's size, and every resize
// recomputes each control from those recorded values, so nothing accumulates from one resize to the next.
//
// Lengths are in twips, 15 to the pixel. Recorded values are the pixel geometry times 15 (exact); a computed
// length is turned back into pixels by rounding to the nearest pixel (halves away from zero). So growth
// by an odd number of pixels split by a share of 1/2 may land half a pixel either way, and a window resized
// back to its registration size puts every control exactly where it was.
//
// "The window" is the widget whose direct children are the controls: for a main window that is its
// central widget, the client area. Its growth equals the outer window's growth, since the frame and the
// menu bar do not change size with it.

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>

namespace quillbox {

/// twips per pixel.
inline constexpr int kTwipsPerPixel = 15;

/// `twips` in whole pixels, a remainder dropped: for the design sizes of windows, given in twips.
constexpr int twipsToPixels(int twips)
{
    return twips / kTwipsPerPixel;
}

/// One registered control: the control, its geometry at registration (twips) and its four shares.
struct AnchoredControl {
    QPointer<QWidget> widget;
    qint32 left = 0;
    qint32 top = 0;
    qint32 width = 0;
    qint32 height = 0;
    double xShare = 0;
    double yShare = 0;
    double widthShare = 0;
    double heightShare = 0;
};

class AnchorLayout {
public:
    /// Registers every direct child widget of `window`, in creation order, with its "Tag" text, replacing any
    /// earlier registration; `window`'s current size becomes minWidth and minHeight. Tool bars are skipped.
    void attach(QWidget* window);

    /// Registers `ctrl` with the options text `tag`; returns whether it was registered. A text that
    /// optionValue refuses for any key (zero denominator, a number outside the 16-bit range) leaves the
    /// control unregistered: it keeps its place on every resize.
    bool addControl(QWidget* ctrl, const QString& tag);

    /// Places every registered control, in registration order, from its recorded geometry and the growth
    /// of the window given to attach beyond minWidth and minHeight (a smaller window counts as no
    /// growth). A negative share that would make a width or height negative gives 0.
    void relayout();

    /// The window's size at registration, in twips: the reference from which growth is measured.
    qint32 minWidth() const { return m_minWidth; }
    qint32 minHeight() const { return m_minHeight; }
    /// Stores `twips` to the nearest whole number (halves to the even neighbour).
    void setMinWidth(double twips);
    void setMinHeight(double twips);

    /// The registered controls, in registration order.
    const QList<AnchoredControl>& controls() const { return m_controls; }

    /// The value of `key` ("X=", "Y=", "W=" or "H=", letter case counting) in the options text `opts`:
    /// its first occurrence, the value running to the next space or the end. The numerator is the value's
    /// leading number (0 when it starts with none), the denominator the leading number after its first "/"
    /// (1 without "/"); each is rounded to a whole number, halves to even, so "0.5" is 0 and "1.5" is 2.
    /// A missing key gives 0. Nothing (not registrable) when a rounded number is outside -32768..32767 or
    /// the denominator is 0.
    [[nodiscard]] static std::optional<double> optionValue(QStringView key, QStringView opts);

private:
    QPointer<QWidget> m_window;
    qint32 m_minWidth = 0;
    qint32 m_minHeight = 0;
    QList<AnchoredControl> m_controls;
};

} // namespace quillbox
