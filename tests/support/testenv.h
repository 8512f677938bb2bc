// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QTimeZone>
#include <QtGlobal>
#include <ctime>

namespace quillbox::test {

/// Every test runs in one time zone and one locale, whatever the machine's, so that local
/// times and regional names are the same everywhere. Must run before Qt reads the locale.
inline void setFixedEnvironment()
{
    qputenv("TZ", "Europe/Berlin");
    qputenv("LC_ALL", "en_US.UTF-8");
    qputenv("LANG", "en_US.UTF-8");
    tzset();
}

/// A time in that zone, Europe/Berlin, from its wall-clock fields.
inline QDateTime berlin(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone("Europe/Berlin"));
}

} // namespace quillbox::test
