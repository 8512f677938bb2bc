// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <memory>
#include <optional>

namespace quillbox {

/// The product name: window caption, application title and the name in every message.
inline constexpr char16_t kProductName[] = u"Quillbox";

/// The answer to a warning box with the buttons Abort, Retry and Ignore.
enum class WarningAnswer { Abort, Retry, Ignore };

/// A progress window: a caption, a status text and a bar from 0 to a maximum.
/// The window closes when the object is destroyed.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void setStatus(const QString& text) = 0;
    virtual void setValue(qint64 value) = 0;
    /// Whether the person asked to stop the run; the run asks between two steps.
    virtual bool cancelled() const { return false; }
};

/// Everything the program asks of, or tells, the person in front of it.
/// The core never builds a widget: the GUI implements this with Qt dialogs,
/// unattended runs write to standard error, and tests answer from a script.
class Person {
public:
    virtual ~Person() = default;

    /// A message box with the text alone, an OK button, no icon and the application title.
    virtual void message(const QString& text) = 0;

    /// A message box as message(), with `details` that say why (a path and the system's or a library's
    /// words), shown where the person can ask for them; with empty `details`, message() alone.
    virtual void detailedMessage(const QString& text, const QString& details)
    {
        static_cast<void>(details);
        message(text);
    }

    /// A message that only informs (how a run went when nothing failed, what a search left out that is no
    /// e-mail): shown as message() is, or as the person's kind allows without waiting for an answer, but it is
    /// no error, and an unattended run does not end with status 1 for it.
    virtual void information(const QString& text) { message(text); }

    /// A warning box (exclamation icon) with Abort, Retry and Ignore and its own title.
    virtual WarningAnswer warning(const QString& title, const QString& text) = 0;

    /// A question box with Yes and No (question icon) under the application title; true for Yes. A person
    /// who cannot be asked answers No.
    virtual bool question(const QString& text)
    {
        static_cast<void>(text);
        return false;
    }

    /// An input box with OK and Cancel and an empty default; returns the typed text, or an empty text on Cancel.
    virtual QString inputBox(const QString& prompt) = 0;

    /// An input box as inputBox() whose text is not shown as it is typed (a password). A person who cannot
    /// be asked answers nothing.
    virtual QString password(const QString& prompt) { return inputBox(prompt); }

    /// The mail folder chooser; returns the chosen folder's path, or nothing when the person cancels.
    virtual std::optional<QString> pickMailFolder() = 0;

    /// The directory chooser with `title`, opened at `start` (or the nearest folder above it that exists)
    /// when it is not empty; returns the chosen directory, or an empty text on Cancel.
    virtual QString chooseDirectory(const QString& title, const QString& start) = 0;

    /// Opens a file, document or web address with the desktop's default handler; failures are not reported.
    virtual void openDocument(const QString& target) = 0;

    /// Shows a progress window without an owner that does not block; it closes when the result is destroyed.
    virtual std::unique_ptr<Progress> progress(const QString& caption, qint64 maximum) = 0;
};

/// Asks `person` for a directory with `title`, starting at `start`. The chosen directory comes back ending in "/" ("/"
/// itself stays as it is); an empty text when the person cancels.
[[nodiscard]] QString getDir(Person& person, const QString& title, const QString& start = QString());

} // namespace quillbox
