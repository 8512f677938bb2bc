// SPDX-License-Identifier: MIT
#include "gui/anchorlayout.h"

#include <QToolBar>
#include <QVariant>
#include <cmath>
#include <limits>

namespace quillbox {

namespace {

qint32 toTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

int toPixels(double twips)
{
    return int(std::lround(twips / kTwipsPerPixel));
}

/// The number at the start of `text`: an optional sign, digits with an optional fraction, an optional
/// exponent. 0 when the text starts with none of it.
double leadingNumber(QStringView text)
{
    qsizetype end = 0;
    const auto digits = [&] {
        const qsizetype start = end;
        while (end < text.size() && text[end].isDigit() && text[end].unicode() < 128)
            ++end;
        return end > start;
    };
    if (end < text.size() && (text[end] == u'+' || text[end] == u'-'))
        ++end;
    bool any = digits();
    if (end < text.size() && text[end] == u'.') {
        ++end;
        any = digits() || any;
    }
    if (!any)
        return 0;
    const qsizetype mantissaEnd = end;
    if (end < text.size() && (text[end] == u'e' || text[end] == u'E')) {
        ++end;
        if (end < text.size() && (text[end] == u'+' || text[end] == u'-'))
            ++end;
        if (!digits())
            end = mantissaEnd;
    }
    bool ok = false;
    const double value = text.first(end).toDouble(&ok);
    // toDouble refuses what overflows a double; that is out of range as well.
    return ok ? value : std::numeric_limits<double>::infinity();
}

/// `value` to the nearest whole number, halves to even, if that fits a 16-bit signed number.
std::optional<int> toInt16(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // the default rounding mode rounds halves to even
    if (rounded < std::numeric_limits<qint16>::min() || rounded > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return int(rounded);
}

qint32 roundToEven(double value)
{
    return qint32(std::nearbyint(value));
}

} // namespace

std::optional<double> AnchorLayout::optionValue(QStringView key, QStringView opts)
{
    const qsizetype at = opts.indexOf(key);
    if (at < 0)
        return 0.0;
    QStringView value = opts.sliced(at + key.size());
    const qsizetype space = value.indexOf(u' ');
    if (space >= 0)
        value = value.first(space);

    const std::optional<int> numerator = toInt16(leadingNumber(value));
    if (!numerator)
        return std::nullopt;
    int denominator = 1;
    const qsizetype slash = value.indexOf(u'/');
    if (slash >= 0) {
        const std::optional<int> d = toInt16(leadingNumber(value.sliced(slash + 1)));
        if (!d || *d == 0)
            return std::nullopt;
        denominator = *d;
    }
    return double(*numerator) / double(denominator);
}

void AnchorLayout::setMinWidth(double twips)
{
    m_minWidth = roundToEven(twips);
}

void AnchorLayout::setMinHeight(double twips)
{
    m_minHeight = roundToEven(twips);
}

void AnchorLayout::attach(QWidget* window)
{
    m_window = window;
    setMinWidth(toTwips(window->width()));
    setMinHeight(toTwips(window->height()));
    m_controls.clear();
    const QList<QWidget*> children = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (qobject_cast<QToolBar*>(child))
            continue;
        addControl(child, child->property("Tag").toString());
    }
}

bool AnchorLayout::addControl(QWidget* ctrl, const QString& tag)
{
    AnchoredControl record;
    record.widget = ctrl;
    const std::optional<double> x = optionValue(u"X=", tag);
    const std::optional<double> y = optionValue(u"Y=", tag);
    const std::optional<double> w = optionValue(u"W=", tag);
    const std::optional<double> h = optionValue(u"H=", tag);
    if (!ctrl || !x || !y || !w || !h)
        return false;
    record.xShare = *x;
    record.yShare = *y;
    record.widthShare = *w;
    record.heightShare = *h;
    const QRect g = ctrl->geometry();
    record.left = toTwips(g.x());
    record.top = toTwips(g.y());
    record.width = toTwips(g.width());
    record.height = toTwips(g.height());
    m_controls.append(record);
    return true;
}

void AnchorLayout::relayout()
{
    if (m_controls.isEmpty() || !m_window)
        return;
    const qint32 dx = std::max(0, toTwips(m_window->width()) - m_minWidth);
    const qint32 dy = std::max(0, toTwips(m_window->height()) - m_minHeight);
    for (const AnchoredControl& c : std::as_const(m_controls)) {
        if (!c.widget)
            continue;
        const double left = dx * c.xShare + c.left;
        const double top = dy * c.yShare + c.top;
        const double width = std::max(0.0, dx * c.widthShare + c.width);
        const double height = std::max(0.0, dy * c.heightShare + c.height);
        c.widget->setGeometry(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
    }
}

} // namespace quillbox
