// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QFile>
#include <QProcessEnvironment>
#include <QTimeZone>
#include <QtGlobal>
#include <ctime>
#include <initializer_list>
#include <utility>
#include <vector>

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

/// Sets environment variables for the life of the object; each is unset again afterwards.
class ScopedEnv {
public:
    ScopedEnv(std::initializer_list<std::pair<const char*, QString>> values)
    {
        for (const auto& [name, value] : values) {
            m_names.push_back(name);
            qputenv(name, QFile::encodeName(value));
        }
    }
    ~ScopedEnv()
    {
        for (const char* name : m_names)
            qunsetenv(name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::vector<const char*> m_names;
};

/// The environment of a program run without a display, with its profile, registry files and
/// configuration in `dir`.
inline QProcessEnvironment headlessEnvironment(const QString& dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("QUILLBOX_PROFILE"), dir + QStringLiteral("/profile.ini"));
    env.insert(QStringLiteral("QUILLBOX_HKCU"), dir + QStringLiteral("/user.reg"));
    env.insert(QStringLiteral("QUILLBOX_HKLM"), dir + QStringLiteral("/system.reg"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/config"));
    return env;
}

/// The program's profile and registry files: profile.ini, user.reg and system.reg in `dir`.
inline ScopedEnv programFilesIn(const QString& dir)
{
    return { { "QUILLBOX_PROFILE", dir + QLatin1String("/profile.ini") },
        { "QUILLBOX_HKCU", dir + QLatin1String("/user.reg") },
        { "QUILLBOX_HKLM", dir + QLatin1String("/system.reg") } };
}

} // namespace quillbox::test
