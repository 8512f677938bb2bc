// SPDX-License-Identifier: MIT
#pragma once

#include "config/inifile.h"
#include "core/settings.h"

namespace quillbox {

class Person;

/// The live settings and their file: section "Options" of an INI file, eighteen keys.
///
/// The object starts on the default file (defaultIniPath()) with the settings' initial values and reads
/// nothing until loadSettings(). Everything else reads settings() at the moment it needs a value; the
/// options dialog edits settings() in place, calls saveSettings() on OK and loadSettings() on Cancel.
/// The file is written only by saveSettings(): a run without it never creates or changes the file.
class Options {
public:
    explicit Options(Person& person);

    Settings& settings() { return m_settings; }
    const Settings& settings() const { return m_settings; }

    /// The access to the settings file; fileName() is the file in use.
    IniFile& ini() { return m_ini; }

    /// Reads all eighteen keys into settings(). A missing file, section or key, or an empty value, gives the
    /// key's default. Check-box keys: UseDate, UseFnDate and UseFnFolder take the number at the start of
    /// the text ("1abc" is 1, "abc" is 0), rounded to the nearest whole number (halves to even); the other
    /// seven (UseFrom, UseSubject, UseFnFrom, UseFnSubject, SkipSaved, WriteIndex, SetFileTimes) take the
    /// whole text as a whole number (" 1 " is 1). A state that is not a number or not 0, 1
    /// or 2 gives the key's default. The templates are set as stored, not rebuilt from the boxes.
    void loadSettings();

    /// Writes all eighteen keys, in their fixed order (SkipSaved, WriteIndex and SetFileTimes last): check states as
    /// "0", "1" or "2", TextFormat between double quotes (its blanks at both ends survive), every other text unchanged.
    /// A file that cannot be written is reported through the person with the file's name and the reason; writing then
    /// stops, and settings() stays as it is. The default file's folder is created when missing.
    void saveSettings();

    /// Makes `path` the settings file (a relative path is taken from the current directory now) and loads
    /// it. A file that does not exist gives the defaults; the first saveSettings() creates it.
    void useCustomIni(const QString& path);

    /// Rebuilds TextFormat from UseDate, UseFrom and UseSubject: "%1", "%2", "%3" for each box that is not
    /// cleared, joined by single spaces ("" when all three are cleared).
    void rebuildTextFormat();

    /// Rebuilds FnFormat the same way from UseFnDate, UseFnFrom and UseFnSubject. UseFnFolder plays no part.
    void rebuildFnFormat();
    /// Whether `format` is one of the templates the Date, From and Subject boxes build ("", "%1", "%1 %2",
    /// ... "%1 %2 %3"); any other was typed by hand.
    static bool isBoxTemplate(const QString& format);

private:
    Person& m_person;
    IniFile m_ini;
    Settings m_settings;
};

} // namespace quillbox
